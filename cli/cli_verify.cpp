#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "base/capture_names.h"
#include "base/paths.h"
#include "base/utf8_names.h"
#include "cli/cli.h"
#include "record/audit_log.h"
#include "record/crypto.h"
#include "record/verify.h"
#include "report/index_page.h"
#include "zav_version.h"

namespace zav::cli {

namespace {

enum VerifyOption { kVerifyKey, kVerifyLog, kVerifySignKey };
constexpr OptionInfo kVerifyOptions[] = {
    {kVerifyKey, "key", "FILE.pub",
     "check every signature with this public key (give it once for\neach key that signed): "
     "then every record and audit line must\nbe signed by one of them"},
    {kVerifyLog, "log", nullptr,
     "append the result to DIR/audit.log as a \"verified\" line; this\nis the only change verify "
     "ever makes"},
    {kVerifySignKey, "sign-key", "FILE", "sign that line with this private key"},
};

// DIR, or DIR/NAME (also DIR/NAME.record.json or DIR/NAME.sha256): the
// folder and the capture's name (empty: every capture).
void SplitTarget(std::string target, std::string& folder, std::string& name) {
    std::error_code error;
    if (std::filesystem::is_directory(PathOf(target), error)) {
        folder = target;
        name.clear();
        return;
    }
    for (std::string_view suffix : {".record.json", ".sha256"}) {
        if (target.size() > suffix.size() && target.ends_with(suffix))
            target.resize(target.size() - suffix.size());
    }
    const std::size_t split = FileNameOffset(target);
    folder = target.substr(0, split);
    name = target.substr(split);
}

} // namespace

std::string ProgramIdentity() {
    return "zavprint " ZAV_VERSION_TEXT;
}

bool LoadSignKey(const char* command, const std::string& path, record::SigningKey& key) {
    const int loaded = record::LoadSigningKey(path, key);
    if (loaded != record::kKeyOk) {
        std::fprintf(stderr, "zavprint %s: %s: %s\n", command, path.c_str(),
                     record::KeyFileResultText(loaded));
        return false;
    }
    return true;
}

const CommandInfo kVerifyCommand{
    .name = "verify",
    .synopsis = "verify [--key=FILE.pub]... [--log [--sign-key=FILE]] [DIR | DIR/NAME]",
    .summary = "Checks the captures of DIR (default: the current folder), or the one\n"
               "capture DIR/NAME, against their records: every file against its\n"
               "NAME.sha256 and NAME.record.json, every record against the audit log\n"
               "DIR/audit.log, every line of the log against the line before it, and\n"
               "the signatures. Names each changed, missing or unrecorded file and each\n"
               "broken link, and prints the SHA-256 of the log's last line (note it down\n"
               "to tell later that nothing was cut off the log's end). Changes nothing,\n"
               "unless --log is given. Exit status 0 when all holds, 1 when anything\n"
               "does not.",
    .options = kVerifyOptions,
    .maxOperands = 1,
};

int RunVerify(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kVerifyCommand, argc, argv, args))
        return args.exitStatus;
    record::VerifyOptions options;
    bool log = false;
    const char* signKeyPath = nullptr;
    for (const ParsedOption& option : args.options) {
        switch (option.id) {
        case kVerifyKey: {
            record::PublicKey key{};
            const int loaded = record::LoadPublicKey(option.value, key);
            if (loaded != record::kKeyOk) {
                std::fprintf(stderr, "zavprint verify: %s: %s\n", option.value,
                             record::KeyFileResultText(loaded));
                return kExitUsage;
            }
            options.keys.push_back(key);
            break;
        }
        case kVerifyLog:
            log = true;
            break;
        case kVerifySignKey:
            signKeyPath = option.value;
            break;
        }
    }
    if (signKeyPath && !log)
        return UsageError(kVerifyCommand, "--sign-key signs the line of --log");
    record::SigningKey signKey;
    if (signKeyPath && !LoadSignKey("verify", signKeyPath, signKey))
        return kExitUsage;
    if (!record::StartCrypto()) {
        std::fprintf(stderr, "zavprint verify: the cryptography library did not start\n");
        return 1;
    }

    std::string folder;
    SplitTarget(args.operands.empty() ? std::string(".") : std::string(args.operands[0]), folder,
                options.capture);
    std::error_code error;
    if (!std::filesystem::is_directory(PathOf(folder.empty() ? "." : folder), error)) {
        std::fprintf(stderr, "zavprint verify: %s: no such folder\n", folder.c_str());
        return 1;
    }
    if (!options.capture.empty()) {
        // The files that belong to that capture by their names.
        for (const std::string& path : CaptureNames(folder + options.capture).Existing())
            options.captureFiles.push_back(path.substr(FileNameOffset(path)));
    }
    options.isFolderFile = IsIndexPageName;

    const record::VerifyReport report = record::VerifyFolder(folder, options);
    for (const record::Fault& fault : report.faults)
        std::printf("%s: %s: %s\n", record::FaultWord(fault.kind), fault.where.c_str(),
                    fault.text.c_str());
    for (const std::string& note : report.notes)
        std::printf("note: %s\n", note.c_str());
    std::printf("checked %zu capture%s, %zu file%s (%llu bytes)", report.captures,
                report.captures == 1 ? "" : "s", report.files, report.files == 1 ? "" : "s",
                static_cast<unsigned long long>(report.bytes));
    if (report.logHead.empty())
        std::printf(", no audit log\n");
    else
        std::printf(", audit.log: %zu lines, last line's SHA-256 %s\n", report.logLines,
                    report.logHead.c_str());
    if (report.Holds())
        std::printf("all holds\n");
    else
        std::printf("%zu fault%s\n", report.faults.size(), report.faults.size() == 1 ? "" : "s");

    if (log) {
        record::AuditEvent event{"verified", options.capture};
        event.details.Add("result", record::Json::String(report.Holds() ? "holds" : "faults"));
        event.details.Add("faults", record::Json::Number(report.faults.size()));
        event.details.Add("captures", record::Json::Number(report.captures));
        event.details.Add("head", record::Json::String(report.logHead));
        std::string why;
        const int logged =
            record::AppendAuditEvent(folder, event, record::LocalIdentity(ProgramIdentity()),
                                     signKeyPath ? &signKey : nullptr, &why);
        if (logged != record::kAuditOk) {
            std::fprintf(stderr, "zavprint verify: %s: %s\n", record::AuditResultText(logged),
                         why.c_str());
            return 1;
        }
    }
    return report.Holds() ? 0 : 1;
}

} // namespace zav::cli
