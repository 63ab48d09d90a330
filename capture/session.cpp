#include "capture/session.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "capture/readloop.h"
#include "report/html_report.h"

namespace zav {

namespace {

// "Com%d" on Windows; a device path on Linux.
constexpr int kPortTextSize = static_cast<int>(kPathBufferSize);

std::string StoreText(HQUOR store, const char* field, int size) {
    std::string text(static_cast<std::size_t>(size), '\0');
    quorGetString(store, field, text.data(), size);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

// Closes the temporary capture file; false when the close lost data.
bool CloseRecording(std::FILE*& file) {
    if (!file)
        return true;
    const bool ok = std::fclose(file) == 0;
    file = nullptr;
    return ok;
}

} // namespace

void CaptureSessionEnv::OnProgress(long long bytes) {
    char text[64];
    std::snprintf(text, sizeof text, kStatusReading, bytes);
    SetStatus(text);
}

int RunCaptureSession(HQUOR store, CaptureSessionEnv& env, std::atomic<int>& stop,
                      SessionOutcome* outcome) {
    SessionOutcome local;
    SessionOutcome& out = outcome ? *outcome : local;
    out = SessionOutcome{};

    const std::string folder = StoreText(store, "CaptureFolder", kPathBufferSize);
    const std::string name = StoreText(store, "CaptureFilename", kPathBufferSize);
    char base[kPathBufferSize];
    const bool haveBase =
        MakeBasePath(folder.c_str(), name.c_str(), base, sizeof base) == kFinishOk;
    const std::string tmpPath = haveBase ? std::string(base) + ".tmp" : std::string();

    int result = kSessionStopped;
    std::FILE* recording = haveBase ? std::fopen(tmpPath.c_str(), "wb") : nullptr;
    if (!recording) {
        result = kSessionCannotOpenFile;
    } else {
        const std::string port1 = StoreText(store, "Port1", kPortTextSize);
        std::unique_ptr<CableLine> line = env.OpenPort(port1.c_str());
        if (!line) {
            result = kSessionCannotOpenPort;
        } else {
            ReadLoopState state;
            result = RunReadLoop(
                *line, recording, stop, [&env](long long bytes) { env.OnProgress(bytes); }, state);
            out.bytes = state.bytes;
        }
        // The port is closed as the line goes.
    }
    if (!CloseRecording(recording) && result == kSessionStopped)
        result = kSessionWriteFailed;
    out.result = result;
    if (result == kSessionWriteFailed) {
        // A failed write may have taken part of a read with it: what is kept
        // is what the file holds.
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(tmpPath, error);
        out.bytes = error ? 0 : static_cast<long long>(size);
    }

    switch (result) {
    case kSessionCannotOpenFile:
        env.SetStatus(kStatusCannotOpenFile);
        break;
    case kSessionCannotOpenPort:
        env.SetStatus(kStatusCannotOpenPort);
        break;
    case kSessionReadFailed:
        env.SetStatus(kStatusReadFailed);
        break;
    case kSessionWriteFailed: {
        char text[128];
        std::snprintf(text, sizeof text, kStatusWriteFailed, out.bytes);
        env.SetStatus(text);
        break;
    }
    default:
        break;
    }

    const bool singleFile = quorGetNumeric(store, "SingleFile") != 0;
    if (result == kSessionCannotOpenFile) {
        // No recording of this session: an old one left under the temporary
        // name must not be finished in its place. Single-file mode still
        // clears the old capture file and reports the empty capture.
        if (haveBase && singleFile) {
            std::remove((std::string(base) + ".cpt").c_str());
            WriteHtmlReport(base, 0, true);
        }
    } else {
        FinishOptions options;
        options.singleFile = singleFile;
        // A PDF beside the report when the settings ask for one ("PdfPaper": 0 A4, 1 Letter).
        options.pdf = quorGetNumeric(store, "Pdf") != 0;
        options.paper = quorGetNumeric(store, "PdfPaper") == 1 ? PdfPaper::Letter : PdfPaper::A4;
        out.finishResult = FinishCapture(tmpPath.c_str(), base, options, &out.finish);
        out.finished = true;
        if (out.finishResult != kFinishOk && result == kSessionStopped) {
            char text[256];
            std::snprintf(text, sizeof text, kStatusFinishFailed,
                          FinishResultText(out.finishResult));
            env.SetStatus(text);
        }
    }

    stop.store(1);
    return result;
}

} // namespace zav
