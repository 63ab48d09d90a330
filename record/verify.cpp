#include "record/verify.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "base/capture_names.h"
#include "base/stdio_file.h"
#include "base/utf8_names.h"
#include "record/audit_log.h"
#include "record/capture_record.h"

namespace zav::record {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRecordSuffix = CaptureNames::kRecordExtension;
constexpr std::string_view kSumsSuffix = CaptureNames::kChecksumsExtension;

// The last line of the log that says what became of a capture.
struct LastWord {
    std::size_t line = 0;     // 1-based
    std::string recordDigest; // hex; empty when that line names no record
};

struct Checker {
    const std::string& folder;
    const VerifyOptions& options;
    VerifyReport report;
    std::set<std::string> present;  // regular files of the folder, by name
    std::set<std::string> recorded; // files some record lists, and the records themselves
    std::map<std::string, LastWord> lastWords;
    bool haveLog = false;
    bool signaturesSeen = false;

    std::string PathOf(const std::string& name) const {
        return Utf8Of(zav::PathOf(folder.empty() ? "." : folder) / zav::PathOf(name));
    }
    void Add(FaultKind kind, std::string where, std::string text) {
        report.faults.push_back({kind, std::move(where), std::move(text)});
    }
    bool InScope(std::string_view capture) const {
        return options.capture.empty() || capture == options.capture;
    }

    // Checks a signature against the keys given; `where` and `what` name it.
    void CheckSignature(bool isSigned, const std::string& keyId, std::string_view message,
                        const Signature& signature, const std::string& where) {
        if (isSigned)
            signaturesSeen = true;
        if (options.keys.empty())
            return;
        if (!isSigned) {
            Add(FaultKind::Unsigned, where, "not signed");
            return;
        }
        for (const PublicKey& key : options.keys) {
            if (KeyId(key) != keyId)
                continue;
            if (!VerifySignature(key, message, signature))
                Add(FaultKind::BadSignature, where, "the signature does not hold");
            return;
        }
        Add(FaultKind::BadSignature, where, "signed by key " + keyId + ", which was not given");
    }

    bool ReadText(const std::string& name, std::string& text) {
        UniqueFile file = OpenFile(PathOf(name).c_str(), "rb");
        if (!file)
            return false;
        text.clear();
        char block[65536];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, file.get())) > 0)
            text.append(block, n);
        return !std::ferror(file.get());
    }

    void ListFolder() {
        std::error_code error;
        for (fs::directory_iterator it(zav::PathOf(folder.empty() ? "." : folder), error), end;
             !error && it != end; it.increment(error)) {
            std::error_code typeError;
            if (it->is_regular_file(typeError))
                present.insert(Utf8Of(it->path().filename()));
        }
    }

    void CheckLog() {
        std::vector<AuditLine> lines;
        std::string error;
        haveLog = present.count(kAuditLogName) != 0;
        if (!haveLog)
            return;
        if (!ReadAuditLog(folder, lines, error)) {
            Add(FaultKind::BadLine, kAuditLogName, "cannot be read: " + error);
            return;
        }
        recorded.insert(kAuditLogName);
        report.logLines = lines.size();
        Sha256Digest expected{};
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const AuditLine& line = lines[i];
            const std::string where = std::string(kAuditLogName) + " line " + std::to_string(i + 1);
            if (!line.wellFormed)
                Add(FaultKind::BadLine, where, "not a line of this program's audit log");
            else if (line.prev != expected)
                Add(FaultKind::BrokenLink, where,
                    i == 0 ? "the first line does not start the log: lines before it were removed"
                           : "does not follow line " + std::to_string(i) +
                                 ": a line was changed, added or removed there");
            if (!line.terminated)
                Add(FaultKind::BadLine, where, "cut off: it has no line end");
            if (line.wellFormed)
                CheckSignature(!line.keyId.empty(), line.keyId, line.signedPart, line.signature,
                               where);
            Sha256 hash;
            hash.Update(line.text);
            hash.Update("\n", 1);
            expected = hash.Finish();
            const std::string_view event = line.Event();
            const Json* record = line.body.Find("record");
            Sha256Digest named{};
            const bool namesRecord = record && record->Text() && ParseHex(*record->Text(), named);
            // A failure that wrote no record leaves the capture's record as
            // it was (an earlier capture's stays).
            if (line.wellFormed && !line.Capture().empty() &&
                (event == "finished" || event == "replaced" ||
                 (event == "failed" && namesRecord))) {
                LastWord& last = lastWords[std::string(line.Capture())];
                last.line = i + 1;
                last.recordDigest = namesRecord ? *record->Text() : std::string();
            }
        }
        if (!lines.empty())
            report.logHead = ToHex(expected);
    }

    void CheckCapture(const std::string& name) {
        const std::string recordName = name + std::string(kRecordSuffix);
        const std::string sumsName = name + std::string(kSumsSuffix);
        recorded.insert(recordName);
        recorded.insert(sumsName);
        ++report.captures;
        std::string text;
        if (!present.count(recordName) || !ReadText(recordName, text)) {
            Add(FaultKind::Missing, recordName, "the record of capture " + name + " is not there");
            return;
        }
        std::string unsignedText, keyId;
        Signature signature{};
        const bool isSigned = SplitRecordSignature(text, unsignedText, keyId, signature);
        CheckSignature(isSigned, keyId, isSigned ? unsignedText : text, signature, recordName);
        Json record;
        const Json* files = nullptr;
        const Json* format = nullptr;
        const Json* capture = nullptr;
        if (!ParseJson(text, record) || !(format = record.Find("format")) || !format->Text() ||
            !format->Text()->starts_with("zavprint-record-") || !(files = record.Find("files")) ||
            !(capture = record.Find("capture")) || !capture->Text()) {
            Add(FaultKind::BadRecord, recordName, "not a record of this program");
            return;
        }
        if (*capture->Text() != name)
            Add(FaultKind::BadRecord, recordName,
                "it is the record of capture " + *capture->Text() + ", not of " + name);

        // The audit log's last word on this capture must name this record.
        const std::string digest = ToHex(Sha256Of(text));
        const auto last = lastWords.find(name);
        if (haveLog && last == lastWords.end())
            Add(FaultKind::NotLogged, recordName, "no line of audit.log names this record");
        else if (haveLog && last->second.recordDigest != digest)
            Add(FaultKind::NotLogged, recordName,
                "not the record that audit.log line " + std::to_string(last->second.line) +
                    " names for this capture");

        std::map<std::string, std::string> listed; // name, SHA-256 (hex)
        for (const Json& file : files->Items()) {
            const Json* fileName = file.Find("name");
            const Json* fileDigest = file.Find("sha256");
            std::uint64_t size = 0;
            const Json* bytes = file.Find("bytes");
            if (!fileName || !fileName->Text() || !fileDigest || !fileDigest->Text() || !bytes ||
                !bytes->ToUint64(size)) {
                Add(FaultKind::BadRecord, recordName, "a file entry is not whole");
                continue;
            }
            listed[*fileName->Text()] = *fileDigest->Text();
            CheckFile(name, *fileName->Text(), size, *fileDigest->Text());
        }
        CheckSums(name, sumsName, listed);
        if (const Json* missing = record.Find("missing"); missing && !missing->Items().empty()) {
            std::string names;
            for (const Json& file : missing->Items()) {
                const Json* fileName = file.Find("name");
                names += (names.empty() ? "" : ", ") +
                         (fileName && fileName->Text() ? *fileName->Text() : std::string("?"));
            }
            report.notes.push_back(
                "capture " + name +
                " is incomplete; its record says so and names what is missing: " + names);
        }
    }

    void CheckFile(const std::string& capture, const std::string& name, std::uint64_t size,
                   const std::string& digestHex) {
        recorded.insert(name);
        ++report.files;
        Sha256Digest digest{};
        std::uint64_t actual = 0;
        if (!present.count(name) || !Sha256OfFile(PathOf(name), digest, actual)) {
            Add(FaultKind::Missing, name, "recorded for capture " + capture + ", not there");
            return;
        }
        report.bytes += actual;
        if (actual != size || ToHex(digest) != digestHex)
            Add(FaultKind::Changed, name,
                "not as recorded for capture " + capture +
                    (actual != size ? ": " + std::to_string(actual) + " bytes, recorded " +
                                          std::to_string(size)
                                    : ": its SHA-256 differs"));
    }

    void CheckSums(const std::string& capture, const std::string& sumsName,
                   const std::map<std::string, std::string>& listed) {
        std::string text;
        if (!present.count(sumsName) || !ReadText(sumsName, text)) {
            Add(FaultKind::Missing, sumsName,
                "the checksums of capture " + capture + " are not there");
            return;
        }
        std::vector<SumsEntry> entries;
        std::size_t bad = 0;
        if (!ParseSums(text, entries, &bad)) {
            Add(FaultKind::BadRecord, sumsName,
                "line " + std::to_string(bad) + " is no checksum line");
            return;
        }
        std::map<std::string, std::string> sums;
        for (const SumsEntry& entry : entries)
            sums[entry.name] = ToHex(entry.digest);
        for (const auto& [name, digest] : listed) {
            const auto it = sums.find(name);
            if (it == sums.end())
                Add(FaultKind::BadRecord, sumsName,
                    "does not list " + name + ", which the record lists");
            else if (it->second != digest)
                Add(FaultKind::BadRecord, sumsName,
                    "gives " + name + " another SHA-256 than the record");
        }
        for (const auto& [name, digest] : sums) {
            if (!listed.count(name))
                Add(FaultKind::BadRecord, sumsName,
                    "lists " + name + ", which the record does not");
        }
    }

    void Run() {
        ListFolder();
        CheckLog();
        std::set<std::string> captures;
        if (!options.capture.empty()) {
            captures.insert(options.capture);
        } else {
            for (const std::string& name : present) {
                for (std::string_view suffix : {kRecordSuffix, kSumsSuffix}) {
                    if (name.size() > suffix.size() && name.ends_with(suffix))
                        captures.insert(name.substr(0, name.size() - suffix.size()));
                }
            }
        }
        if (!haveLog && !captures.empty())
            Add(FaultKind::NoLog, kAuditLogName, "records are there but no audit log");
        for (const std::string& capture : captures)
            CheckCapture(capture);
        // Captures the log has a record of whose record went.
        for (const auto& [capture, last] : lastWords) {
            if (InScope(capture) && !last.recordDigest.empty() && !captures.count(capture))
                Add(FaultKind::CaptureGone, capture + std::string(kRecordSuffix),
                    "audit.log line " + std::to_string(last.line) +
                        " names this record; it is not there");
        }
        const std::vector<std::string> candidates =
            options.capture.empty() ? std::vector<std::string>(present.begin(), present.end())
                                    : options.captureFiles;
        for (const std::string& name : candidates) {
            if (recorded.count(name) || name == kAuditLogName ||
                (options.isFolderFile && options.isFolderFile(name)) || !present.count(name))
                continue;
            Add(FaultKind::Unrecorded, name, "no record lists this file");
        }
        if (signaturesSeen && options.keys.empty())
            report.notes.push_back("signatures were not checked: give the public key with --key");
    }
};

} // namespace

const char* FaultWord(FaultKind kind) {
    switch (kind) {
    case FaultKind::Changed:
        return "changed";
    case FaultKind::Missing:
        return "missing";
    case FaultKind::Unrecorded:
        return "unrecorded";
    case FaultKind::BadRecord:
        return "bad record";
    case FaultKind::NotLogged:
        return "not logged";
    case FaultKind::CaptureGone:
        return "gone";
    case FaultKind::NoLog:
        return "no log";
    case FaultKind::BrokenLink:
        return "broken link";
    case FaultKind::BadLine:
        return "bad line";
    case FaultKind::BadSignature:
        return "bad signature";
    case FaultKind::Unsigned:
        return "unsigned";
    }
    return "fault";
}

VerifyReport VerifyFolder(const std::string& folder, const VerifyOptions& options) {
    Checker checker{folder, options, {}, {}, {}, {}};
    checker.Run();
    return std::move(checker.report);
}

} // namespace zav::record
