// One capture session, the body of the capture thread: claims the capture's
// name, opens the port, records everything the print cable sends into the
// capture's recording (base.tmp) until the stop flag is set, then turns the
// recording into capture files, page bitmaps and the report.
//
// A session that cannot claim its name, open its port or make its recording
// ends before any byte and changes no file: no finishing step, no report. A
// recording kept from an earlier session is replaced only once the new one
// holds data (recorded meanwhile under a work name beside it), and an empty
// recording changes nothing.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "base/capture_names.h"
#include "capture/capture_files.h"
#include "capture/capture_trail.h"
#include "capture/handshake.h"
#include "host/quor.h"

namespace zav {

// The session's result (the capture thread's exit code).
enum SessionResult : int {
    kSessionStopped = 0,        // ended by the stop flag
    kSessionCannotOpenFile = 1, // the temporary capture file cannot be created
    kSessionCannotOpenPort = 2, // the port cannot be opened
    kSessionReadFailed = 3,     // a read from the port failed
    kSessionWriteFailed = 4,    // the temporary capture file could not be written
    kSessionFailed = 5,         // an unexpected failure (no memory, no thread) ended it
    kSessionNameInUse = 6,      // another program holds the capture's name
};

inline constexpr char kStatusWaiting[] = "Waiting for printout";
inline constexpr char kStatusReading[] = "Reading (%lld)";
inline constexpr char kStatusCannotOpenFile[] = "Cannot open capture file";
inline constexpr char kStatusCannotOpenPort[] = "Cannot open com port";
inline constexpr char kStatusReadFailed[] = "Cannot read data from queue";
// The recording ended because the disk refused more; what was stored is kept.
inline constexpr char kStatusWriteFailed[] =
    "Cannot write capture file: recording ended, %lld bytes kept";
// Making the capture files or the report failed; the recording is left in place.
inline constexpr char kStatusFinishFailed[] = "Capture not finished: %s";
// Shown once the pages and the report are made: the page count and the report's name.
inline constexpr char kStatusDone[] = "%u pages: %s";
inline constexpr char kStatusDoneOnePage[] = "1 page: %s";
// Added to it for the pages that could not be drawn ("page 2", "pages 2, 5").
inline constexpr char kStatusNotDrawn[] = "; not drawn: %s";
// Added to it when the capture's record or its audit line could not be written.
inline constexpr char kStatusRecordFailed[] = "; record not kept: %s";
// The session recorded nothing: no file was made or changed.
inline constexpr char kStatusNoData[] = "No data received: nothing written";
// Another program (on this or another computer) makes a capture of that
// name in that folder: its claim file.
inline constexpr char kStatusNameInUse[] = "Capture name in use by another program: %s";
// The setting "SignKey" names a key that cannot be used: the key file and
// why. No capture is made unsigned when signatures were asked for.
inline constexpr char kStatusSignKeyFailed[] = "Capture not started: signing key %s: %s";
// Stop was pressed while the instrument still sends: the recording goes on to
// the end of its burst.
inline constexpr char kStatusStopping[] = "Stopping at the end of the printout (%lld bytes)";
// Shown when Stop returns while the session is still making pages.
inline constexpr char kStatusFinishing[] = "Making pages (%lld bytes)...";
// A session ended by an unexpected failure, with one of the reasons below.
// What was recorded up to then stays in the recording.
inline constexpr char kStatusFailed[] = "Capture failed: %s";
inline constexpr char kStatusReasonNoMemory[] = "not enough memory";
inline constexpr char kStatusReasonNoThread[] = "no thread could be started";
inline constexpr char kStatusReasonUnexpected[] = "unexpected error";

// What one session records and where.
struct CaptureRequest {
    std::string folder;
    std::string name;
    std::string port; // "Com%d" on Windows; a device path on Linux
    bool singleFile = false;
    bool pdf = false; // a PDF beside the report
    PdfPaper paper = PdfPaper::A4;
    bool text = true; // the printout's words beside the report (NAME.txt)
    // The user allowed replacing an earlier capture of this name and a
    // recording kept from an earlier session.
    bool replace = false;
    PrinterModel printer = PrinterModel::Basic;
    // Keep the bytes received whole as NAME.raw beside the pages.
    bool keepRaw = false;
    // The capture's record: who writes it, and what is known of the source.
    RecordKeeping records;
    std::string instrument;  // the model text the cable's handshake gave
    std::string cableSerial; // the cable's serial number, where the system tells it
};

// The printer model the value store's setting "Printer" names ("basic" or
// "epson9", in any case); the basic model when it names none.
PrinterModel PrinterSetting(HQUOR store);

// The PDF the value store's settings ask for, by the names the command
// line's settings use: "Pdf" (1: a PDF beside the report) and "PdfPaper"
// ("a4", the default, or "letter").
void PdfSettings(HQUOR store, bool& pdf, PdfPaper& paper);

// What a session needs from its platform.
class CaptureSessionEnv {
  public:
    virtual ~CaptureSessionEnv() = default;
    // Opens the port that the request names; null when it cannot be opened,
    // with the system's reason in `error` when it gave one.
    virtual std::unique_ptr<CableLine> OpenPort(const std::string& port, SystemError& error) = 0;
    // Shows a status text (on Windows: the field "_Status").
    virtual void SetStatus(const char* text) = 0;
    // After every read with the running byte count; shows "Reading (%d)".
    virtual void OnProgress(long long bytes);
    // Once the recording has ended, before the capture files are made.
    virtual void OnFinishing(long long bytes) { (void)bytes; }
    // The mode the capture files are made in, asked once the recording has
    // ended (the Windows dialog lets the user change it while recording).
    virtual bool FinishAsSingleFile(bool requested) { return requested; }
};

struct SessionOutcome {
    int result = kSessionStopped;
    long long bytes = 0;           // bytes received and stored in the temporary capture file
    bool finished = false;         // the finishing step ran
    int finishResult = 0;          // FinishCapture's result, when it ran
    FinishOutcome finish;          // capture files and report, when it ran
    std::string detail;            // why the name could not be claimed or the recording made
    bool recorded = false;         // the capture has its record (NAME.record.json)
    int recordResult = 0;          // a RecordResult, when the finishing step ran on data
    std::string recordError;       // what could not be written of the record, and why
    const char* failure = nullptr; // with kSessionFailed: a kStatusReason text
};

// Runs one session to its end and sets `stop` to 1 at the very end. `outcome`
// may be null. Returns the session result. An exception from the platform or
// the finishing step passes on to the caller, with the recording closed and
// kept and `outcome` filled in as far as the session came.
SessionResult RunCaptureSession(const CaptureRequest& request, CaptureSessionEnv& env,
                                std::atomic<int>& stop, SessionOutcome* outcome);

// The status text that tells what a finished session wrote ("3 pages:
// run.html"), or its failure.
std::string SessionEndText(const SessionOutcome& outcome);

// Inside a catch block: the kStatusReason text of the exception being handled.
const char* CurrentFailureReason() noexcept;

} // namespace zav
