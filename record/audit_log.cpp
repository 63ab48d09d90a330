#include "record/audit_log.h"

#include <cstdio>
#include <mutex>

#include "base/paths.h"
#include "record/record_io.h"

namespace zav::record {

namespace {

constexpr std::string_view kSignatureMark = " ed25519:";
// " ed25519:" KEYID ":" SIGNATURE
constexpr std::size_t kSignatureSuffix = kSignatureMark.size() + 16 + 1 + 128;

// POSIX locks belong to the process: its threads take turns here, and no
// thread opens the log while another holds its lock (closing any descriptor
// of a file drops the process's locks on it).
std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

// The last line of the file (after the last line feed but one, or after
// the last one when the file does not end with one), read backwards in
// blocks. `terminated` tells whether the file ends with a line feed.
bool ReadLastLine(LockedFile& file, std::uint64_t size, std::string& line, bool& terminated) {
    line.clear();
    terminated = false;
    if (size == 0)
        return true;
    char last = 0;
    if (!file.ReadAt(size - 1, &last, 1))
        return false;
    terminated = last == '\n';
    std::uint64_t end = terminated ? size - 1 : size;
    std::uint64_t begin = end;
    char block[4096];
    while (begin > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(begin, sizeof block));
        if (!file.ReadAt(begin - n, block, n))
            return false;
        std::size_t i = n;
        while (i > 0 && block[i - 1] != '\n')
            --i;
        line.insert(0, block + i, n - i);
        if (i > 0)
            return true;
        begin -= n;
    }
    return true;
}

Sha256Digest LineDigest(std::string_view line) {
    Sha256 hash;
    hash.Update(line);
    hash.Update("\n", 1);
    return hash.Finish();
}

std::string FileNameOf(const std::string& path) {
    return path.substr(FileNameOffset(path));
}

} // namespace

Identity LocalIdentity(std::string program) {
    return Identity{ComputerName(), UserName(), std::move(program)};
}

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const sys_days day = floor<days>(ms);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> clock{ms - day};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
        static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string AuditLogPath(const std::string& folder) {
    if (folder.empty())
        return kAuditLogName;
    return IsPathSeparator(folder.back()) ? folder + kAuditLogName
                                          : folder + kPreferredSeparator + kAuditLogName;
}

std::string FormatAuditLine(const Sha256Digest& prev, const AuditEvent& event, const Identity& who,
                            std::string_view time, const SigningKey* key) {
    Json body = Json::Object();
    body.Add("time", Json::String(std::string(time)));
    body.Add("event", Json::String(event.event));
    if (!event.capture.empty())
        body.Add("capture", Json::String(event.capture));
    for (const auto& [name, value] : event.details.Members())
        body.Add(name, value);
    body.Add("computer", Json::String(who.computer));
    body.Add("user", Json::String(who.user));
    body.Add("program", Json::String(who.program));
    std::string line = ToHex(prev);
    line += ' ';
    AppendJson(line, body);
    if (key) {
        Signature signature{};
        if (!key->Sign(line, signature))
            return {};
        line += kSignatureMark;
        line += KeyId(key->Public());
        line += ':';
        line += ToHex(signature);
    }
    line += '\n';
    return line;
}

const char* AuditResultText(int result) {
    switch (result) {
    case kAuditOk:
        return "done";
    case kAuditCannotOpen:
        return "cannot open the audit log";
    case kAuditCannotLock:
        return "cannot lock the audit log";
    case kAuditCannotRead:
        return "cannot read the audit log's last line";
    case kAuditCannotWrite:
        return "cannot append to the audit log";
    case kAuditCannotSign:
        return "cannot sign the audit line";
    }
    return "unknown result";
}

int AppendAuditEvent(const std::string& folder, const AuditEvent& event, const Identity& who,
                     const SigningKey* key, std::string* error) {
    std::string ignored;
    std::string& why = error ? *error : ignored;
    if (!StartCrypto()) {
        why = "the cryptography library did not start";
        return kAuditCannotSign;
    }
    std::lock_guard<std::mutex> turn(LogMutex());
    LockedFile log;
    if (!log.Open(AuditLogPath(folder), LockedFile::Mode::Append, why))
        return why.starts_with("cannot lock") ? kAuditCannotLock : kAuditCannotOpen;
    std::uint64_t size = 0;
    std::string last;
    bool terminated = false;
    if (!log.Size(size) || !ReadLastLine(log, size, last, terminated)) {
        why = "cannot read";
        return kAuditCannotRead;
    }
    std::string text;
    // A line cut off by a crash keeps its bytes; it ends here, and the chain
    // goes on from it as it is.
    if (size != 0 && !terminated)
        text += '\n';
    const Sha256Digest prev = size == 0 ? Sha256Digest{} : LineDigest(last);
    const std::string line =
        FormatAuditLine(prev, event, who, UtcTimeText(std::chrono::system_clock::now()), key);
    if (line.empty()) {
        why = "the key did not sign";
        return kAuditCannotSign;
    }
    text += line;
    return log.Append(text.data(), text.size(), why) ? kAuditOk : kAuditCannotWrite;
}

std::string_view AuditLine::Event() const {
    const Json* value = body.Find("event");
    return value && value->Text() ? std::string_view(*value->Text()) : std::string_view();
}

std::string_view AuditLine::Capture() const {
    const Json* value = body.Find("capture");
    return value && value->Text() ? std::string_view(*value->Text()) : std::string_view();
}

void ParseAuditLine(std::string_view text, AuditLine& line) {
    line.text = std::string(text);
    line.wellFormed = false;
    line.keyId.clear();
    line.body = Json();
    std::string_view json = text;
    // The signature: exactly its shape at the end, after the closing brace.
    if (text.size() > 65 + kSignatureSuffix &&
        text.substr(text.size() - kSignatureSuffix, kSignatureMark.size()) == kSignatureMark &&
        text[text.size() - kSignatureSuffix - 1] == '}') {
        const std::string_view suffix = text.substr(text.size() - kSignatureSuffix);
        std::array<std::uint8_t, 8> id{};
        if (suffix[kSignatureMark.size() + 16] != ':' ||
            !ParseHex(suffix.substr(kSignatureMark.size(), 16), id) ||
            !ParseHex(suffix.substr(kSignatureMark.size() + 17), line.signature))
            return;
        line.keyId = std::string(suffix.substr(kSignatureMark.size(), 16));
        json = text.substr(0, text.size() - kSignatureSuffix);
    }
    line.signedPart = std::string(json);
    if (json.size() < 66 || json[64] != ' ' || !ParseHex(json.substr(0, 64), line.prev))
        return;
    line.wellFormed =
        ParseJson(json.substr(65), line.body) && line.body.kind() == Json::Kind::Object;
}

bool ReadAuditLog(const std::string& folder, std::vector<AuditLine>& lines, std::string& error) {
    lines.clear();
    std::string text;
    {
        std::lock_guard<std::mutex> turn(LogMutex());
        LockedFile log;
        std::uint64_t size = 0;
        if (!log.Open(AuditLogPath(folder), LockedFile::Mode::Read, error))
            return false;
        if (!log.Size(size)) {
            error = "cannot tell its size";
            return false;
        }
        text.resize(static_cast<std::size_t>(size));
        if (size != 0 && !log.ReadAt(0, text.data(), text.size())) {
            error = "cannot read";
            return false;
        }
    }
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        const bool terminated = end != std::string::npos;
        if (!terminated)
            end = text.size();
        lines.emplace_back();
        ParseAuditLine(std::string_view(text).substr(begin, end - begin), lines.back());
        lines.back().terminated = terminated;
        begin = end + 1;
    }
    return true;
}

AuditEvent StartedEvent(std::string capture, std::string port, std::string instrument) {
    AuditEvent event{"started", std::move(capture)};
    event.details.Add("port", Json::String(std::move(port)));
    event.details.Add("instrument", Json::String(std::move(instrument)));
    return event;
}

AuditEvent ReplacedEvent(std::string capture, const std::vector<std::string>& paths) {
    AuditEvent event{"replaced", std::move(capture)};
    Json files = Json::Array();
    for (const std::string& path : paths) {
        Json file = Json::Object();
        file.Add("name", Json::String(FileNameOf(path)));
        Sha256Digest digest{};
        std::uint64_t size = 0;
        if (Sha256OfFile(path, digest, size)) {
            file.Add("bytes", Json::Number(size));
            file.Add("sha256", Json::String(ToHex(digest)));
        } else {
            file.Add("unreadable", Json::Bool(true));
        }
        files.Push(std::move(file));
    }
    event.details.Add("files", std::move(files));
    return event;
}

AuditEvent RecoveredEvent(std::string capture, std::string recordingName) {
    AuditEvent event{"recovered", std::move(capture)};
    event.details.Add("recording", Json::String(std::move(recordingName)));
    return event;
}

} // namespace zav::record
