// One capture session, the body of the capture thread: records everything the
// print cable sends into base path + ".tmp" until the stop flag is set, then
// turns the recording into capture files, page bitmaps and the report.
//
// The platform supplies the port and shows the status texts; the settings come
// from the value store: "CaptureFolder", "CaptureFilename", "Port1", and
// "SingleFile", "Pdf" and "PdfPaper" (looked at once the recording has ended).
#pragma once

#include <atomic>
#include <memory>

#include "capture/capture_files.h"
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
// Shown when Stop returns while the session is still rendering pages.
inline constexpr char kStatusFinishing[] = "Finishing pages...";

// What a session needs from its platform.
class CaptureSessionEnv {
  public:
    virtual ~CaptureSessionEnv() = default;
    // Opens the port that the "Port1" text names; null when it cannot be opened.
    virtual std::unique_ptr<CableLine> OpenPort(const char* port1) = 0;
    // Shows a status text (on Windows: the field "_Status").
    virtual void SetStatus(const char* text) = 0;
    // After every read with the running byte count; shows "Reading (%d)".
    virtual void OnProgress(long long bytes);
};

struct SessionOutcome {
    int result = kSessionStopped;
    long long bytes = 0;   // bytes received and stored in the temporary capture file
    bool finished = false; // the finishing step ran
    int finishResult = 0;  // FinishCapture's result, when it ran
    FinishOutcome finish;  // capture files and report, when it ran
};

// Runs one session to its end and sets `stop` to 1 at the very end. `outcome`
// may be null. Returns the session result.
int RunCaptureSession(HQUOR store, CaptureSessionEnv& env, std::atomic<int>& stop,
                      SessionOutcome* outcome);

} // namespace zav
