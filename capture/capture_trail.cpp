#include "capture/capture_trail.h"

#include "base/file_io.h"
#include "record/audit_log.h"

namespace zav {

std::string FinishFailureText(int finishResult, const FinishOutcome& outcome) {
    std::string why = FinishResultText(finishResult);
    if (!outcome.failedFile.empty())
        why += ": " + outcome.failedFile;
    return WithReason(why, outcome.error);
}

CaptureTrail::CaptureTrail(const CaptureNames& names, const RecordKeeping& keeping,
                           record::CaptureSource source)
    : names_(names), keeping_(keeping), who_(record::LocalIdentity(keeping.program)),
      record_(names.Base(), who_, std::move(source)) {}

void CaptureTrail::BeforeFinish(const std::string& rawPath, bool replace, bool recovered) {
    const std::string folder = record_.Folder();
    const FileIdentity raw = IdentityOf(rawPath.c_str());
    for (const CaptureNames::File& file : names_.Files()) {
        if (file.kind != CaptureFileKind::kOutput || IdentityOf(file.path.c_str()) == raw)
            continue;
        earlierFiles_ = true;
        if (replace)
            earlier_.push_back(file.path);
    }
    if (!earlier_.empty())
        replaced_ = record::ReplacedEvent(record_.Name(), earlier_);
    record::AuditEvent started =
        record::StartedEvent(record_.Name(), record_.Source().port, record_.Source().instrument);
    started.details.Add("at", record::Json::String(record::UtcTimeText(record_.StartTime())));
    // A log that cannot be written is said with the record, which tries it again.
    record::AppendAuditEvent(folder, started, who_, keeping_.key);
    if (recovered)
        record::AppendAuditEvent(
            folder,
            record::RecoveredEvent(record_.Name(), std::string(CaptureNames(rawPath).Name())), who_,
            keeping_.key);
}

int CaptureTrail::AfterFinish(int finishResult, const FinishOutcome& outcome,
                              const std::string& failure, std::string* error) {
    const std::string folder = record_.Folder();
    if (finishResult == kFinishOk && !earlier_.empty()) {
        // The hashes were taken before the files went.
        record::AppendAuditEvent(folder, replaced_, who_, keeping_.key);
    }
    std::string why = failure;
    if (finishResult != kFinishOk)
        why = (why.empty() ? "" : why + "; ") + FinishFailureText(finishResult, outcome);
    if (!why.empty())
        record_.Failed(why);
    if (finishResult == kFinishOk) {
        const int written = record_.Write(keeping_.key, error);
        recordWritten_ = written == record::kRecordOk || written == record::kRecordCannotLog;
        return written;
    }
    record::AuditEvent failed{"failed", record_.Name()};
    failed.details.Add("why", record::Json::String(why));
    failed.details.Add(
        "record", record::Json::String(earlierFiles_ ? "none: the files of an earlier capture stay"
                                                     : "none: nothing was made"));
    std::string logError;
    const int logged = record::AppendAuditEvent(folder, failed, who_, keeping_.key, &logError);
    if (logged == record::kAuditOk)
        return record::kRecordOk;
    if (error)
        *error = std::string(record::AuditResultText(logged)) + ": " + logError;
    return record::kRecordCannotLog;
}

} // namespace zav
