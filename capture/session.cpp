#include "capture/session.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "base/stdio_file.h"
#include "capture/readloop.h"

namespace zav {

namespace {

const char* FailureText(int result) {
    switch (result) {
    case kSessionCannotOpenFile:
        return kStatusCannotOpenFile;
    case kSessionCannotOpenPort:
        return kStatusCannotOpenPort;
    case kSessionReadFailed:
        return kStatusReadFailed;
    default:
        return nullptr;
    }
}

} // namespace

void CaptureSessionEnv::OnProgress(long long bytes) {
    char text[64];
    std::snprintf(text, sizeof text, kStatusReading, bytes);
    SetStatus(text);
}

const char* CurrentFailureReason() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return kStatusReasonNoMemory;
    } catch (...) {
        return kStatusReasonUnexpected;
    }
}

std::string SessionEndText(const SessionOutcome& out) {
    char text[kPathBufferSize + 128];
    if (out.result == kSessionFailed) {
        std::snprintf(text, sizeof text, kStatusFailed,
                      out.failure ? out.failure : kStatusReasonUnexpected);
        return text;
    }
    if (out.result == kSessionWriteFailed) {
        std::snprintf(text, sizeof text, kStatusWriteFailed, out.bytes);
        return text;
    }
    if (const char* failure = FailureText(out.result))
        return failure;
    if (out.finished && out.finishResult != kFinishOk) {
        std::snprintf(text, sizeof text, kStatusFinishFailed, FinishResultText(out.finishResult));
        return text;
    }
    if (!out.finished)
        return {};
    const std::string report(CaptureNames(out.finish.reportPath).Name());
    if (out.finish.pageCount == 1)
        std::snprintf(text, sizeof text, kStatusDoneOnePage, report.c_str());
    else
        std::snprintf(text, sizeof text, kStatusDone, out.finish.pageCount, report.c_str());
    return text;
}

int RunCaptureSession(const CaptureRequest& request, CaptureSessionEnv& env, std::atomic<int>& stop,
                      SessionOutcome* outcome) {
    SessionOutcome local;
    SessionOutcome& out = outcome ? *outcome : local;
    out = SessionOutcome{};

    CaptureNames names;
    const bool haveBase = CaptureNames::Make(request.folder, request.name, names) == kFinishOk;
    const std::string tmpPath = names.Recording();

    // The port first: a session that cannot record must not touch the
    // files of an earlier capture, nor a recording kept from one.
    int result = kSessionStopped;
    std::unique_ptr<CableLine> line = haveBase ? env.OpenPort(request.port) : nullptr;
    UniqueFile recording;
    if (!haveBase) {
        result = kSessionCannotOpenFile;
    } else if (!line) {
        result = kSessionCannotOpenPort;
    } else if (!(recording = OpenFile(tmpPath.c_str(), "wb"))) {
        result = kSessionCannotOpenFile;
    } else {
        ReadLoopState state;
        result = RunReadLoop(
            *line, recording.get(), stop, [&env](long long bytes) { env.OnProgress(bytes); },
            state);
        out.bytes = state.bytes;
    }
    line.reset(); // the port is closed as the line goes
    if (recording && !CloseFile(recording) && result == kSessionStopped)
        result = kSessionWriteFailed;
    out.result = result;
    if (result == kSessionWriteFailed) {
        // A failed write may have taken part of a read with it: what is kept
        // is what the file holds.
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(tmpPath, error);
        out.bytes = error ? 0 : static_cast<long long>(size);
    }
    if (result != kSessionCannotOpenFile && result != kSessionCannotOpenPort) {
        env.OnFinishing(out.bytes);
        FinishOptions options;
        options.singleFile = env.FinishAsSingleFile(request.singleFile);
        options.pdf = request.pdf;
        options.paper = request.paper;
        options.text = request.text;
        out.finishResult =
            FinishCapture(tmpPath.c_str(), names.Base().c_str(), options, &out.finish);
        out.finished = true;
    }
    // What was written, or why the session failed, is the last word.
    env.SetStatus(SessionEndText(out).c_str());

    stop.store(1);
    return result;
}

} // namespace zav
