// The record and the audit lines of one capture, kept alike by every way of
// making one (a session, finishing a recording, the watch):
//
//   started     before the files are made, with when the first byte came
//   recovered   when the recording is one a session kept
//   replaced    once the files of an earlier capture of the name went, with
//               the size and SHA-256 each had just before
//   finished / failed   with the record (CaptureRecord::Write)
//
// The record files (NAME.sha256, NAME.record.json) are written last, once the
// capture's files are in place; a recording cut short makes a record that
// says so. A finishing step that failed put nothing in place and changed
// nothing: no record is written (an earlier capture's stays), and the audit
// line alone says what failed. The caller holds the name's claim until
// AfterFinish returns.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "base/capture_names.h"
#include "capture/capture_files.h"
#include "record/capture_record.h"

namespace zav {

// Who keeps the records, and the key that signs them (null: unsigned).
struct RecordKeeping {
    std::string program; // "zavprint 1.2.3"
    const record::SigningKey* key = nullptr;
};

class CaptureTrail {
  public:
    CaptureTrail(const CaptureNames& names, const RecordKeeping& keeping,
                 record::CaptureSource source);
    CaptureTrail(const CaptureTrail&) = delete;
    CaptureTrail& operator=(const CaptureTrail&) = delete;

    // What FinishCapture is to feed (FinishOptions::record).
    record::CaptureRecord& Record() { return record_; }

    // Before FinishCapture: logs "started" (and "recovered" when the
    // recording `rawPath` is one a session kept), and with leave to replace
    // takes the hashes of the earlier capture's files.
    void BeforeFinish(const std::string& rawPath, bool replace, bool recovered);
    // After FinishCapture: the record and the last audit line. `failure`:
    // why the capture is not whole even if the files were made (a recording
    // cut short). kRecordOk, or what could not be written (`error` says why).
    int AfterFinish(int finishResult, const FinishOutcome& outcome, const std::string& failure,
                    std::string* error = nullptr);

    // True once AfterFinish wrote NAME.record.json.
    bool RecordWritten() const { return recordWritten_; }

  private:
    const CaptureNames names_;
    const RecordKeeping keeping_;
    const record::Identity who_;
    record::CaptureRecord record_;
    std::vector<std::string> earlier_; // files of an earlier capture that may go
    record::AuditEvent replaced_;      // ... and their hashes before
    bool earlierFiles_ = false;        // a file of an earlier capture lies there
    bool recordWritten_ = false;
};

// Why a finish failed, for records and logs: the result, the file, the reason.
std::string FinishFailureText(int finishResult, const FinishOutcome& outcome);

} // namespace zav
