#include "capture/session.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "base/file_io.h"
#include "base/output_file.h"
#include "base/utf8_names.h"
#include "capture/readloop.h"
#include "render/renderer.h"

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

namespace {

// "page 2" or "pages 2, 5, 7".
std::string PagesNotDrawn(const FinishOutcome& finish) {
    std::string pages;
    for (std::size_t i = 0; i < finish.pages.size(); ++i) {
        if (finish.pages[i].renderResult == kRenderOk)
            continue;
        pages += (pages.empty() ? "" : ", ") + std::to_string(i + 1);
    }
    return (finish.NotDrawn() == 1 ? "page " : "pages ") + pages;
}

// The recording of a session: base.tmp, made where no file is; or, beside a
// recording kept from an earlier session that may be replaced, a work file
// that takes its name once it holds data.
struct Recording {
    std::string path;
    std::FILE* file = nullptr;
    bool besideKept = false;

    Recording() = default;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    ~Recording() {
        if (file)
            std::fclose(file); // an exception on the way: what came is kept
    }

    bool Open(const CaptureNames& names, SystemError& error) {
        NativeFile made = kNoNativeFile;
        besideKept = names.RecordingExists();
        if (besideKept)
            made = CreateWorkFile(names.Recording(), path, error);
        else if ((made = CreateNewFile(names.Recording().c_str(), error)) != kNoNativeFile)
            path = names.Recording();
        file = made == kNoNativeFile ? nullptr : StreamOfFile(made);
        return file != nullptr;
    }
    // False when the close lost data.
    bool Close() {
        const bool ok = std::fclose(file) == 0;
        file = nullptr;
        return ok;
    }
    // The recording takes the kept one's place once it holds data.
    void Settle(const CaptureNames& names, long long bytes) {
        SystemError error;
        if (besideKept && bytes > 0 && RenameFile(path.c_str(), names.Recording().c_str(), error))
            path = names.Recording();
    }
};

// What could not be kept of the record, when anything.
std::string RecordFailedText(const SessionOutcome& out) {
    if (out.recordResult == record::kRecordOk)
        return {};
    char text[3 * kPathBufferSize];
    std::snprintf(text, sizeof text, kStatusRecordFailed, out.recordError.c_str());
    return text;
}

} // namespace

std::string SessionEndText(const SessionOutcome& out) {
    char text[3 * kPathBufferSize];
    if (out.result == kSessionFailed) {
        std::snprintf(text, sizeof text, kStatusFailed,
                      out.failure ? out.failure : kStatusReasonUnexpected);
        return text;
    }
    if (out.result == kSessionWriteFailed) {
        std::snprintf(text, sizeof text, kStatusWriteFailed, out.bytes);
        return text;
    }
    if (out.result == kSessionNameInUse) {
        std::snprintf(text, sizeof text, kStatusNameInUse, out.detail.c_str());
        return text;
    }
    if (const char* failure = FailureText(out.result))
        return out.detail.empty() ? failure : std::string(failure) + ": " + out.detail;
    if (out.finished && out.finishResult == kFinishEmpty)
        return kStatusNoData;
    if (out.finished && out.finishResult != kFinishOk) {
        std::string why = FinishResultText(out.finishResult);
        if (!out.finish.failedFile.empty())
            why += ": " + out.finish.failedFile;
        std::snprintf(text, sizeof text, kStatusFinishFailed,
                      WithReason(why, out.finish.error).c_str());
        return text + RecordFailedText(out);
    }
    if (!out.finished)
        return {};
    const std::string report(CaptureNames(out.finish.reportPath).Name());
    if (out.finish.pageCount == 1)
        std::snprintf(text, sizeof text, kStatusDoneOnePage, report.c_str());
    else
        std::snprintf(text, sizeof text, kStatusDone, out.finish.pageCount, report.c_str());
    std::string done = text;
    if (out.finish.NotDrawn() != 0) {
        std::snprintf(text, sizeof text, kStatusNotDrawn, PagesNotDrawn(out.finish).c_str());
        done += text;
    }
    return done + RecordFailedText(out);
}

PrinterModel PrinterSetting(HQUOR store) {
    char text[16] = "";
    PrinterModel model = PrinterModel::Basic;
    if (store && quorGetString(store, "Printer", text, sizeof text) >= 0)
        ParsePrinterModel(text, model);
    return model;
}

void PdfSettings(HQUOR store, bool& pdf, PdfPaper& paper) {
    char text[16] = "";
    pdf = store && quorGetNumeric(store, "Pdf") == 1;
    paper = PdfPaper::A4;
    if (store && quorGetString(store, "PdfPaper", text, sizeof text) >= 0)
        ParsePdfPaper(text, paper);
}

SessionResult RunCaptureSession(const CaptureRequest& request, CaptureSessionEnv& env,
                                std::atomic<int>& stop, SessionOutcome* outcome) {
    SessionOutcome local;
    SessionOutcome& out = outcome ? *outcome : local;
    out = SessionOutcome{};

    // The name first, then the port: a session that cannot record must not
    // touch the files of an earlier capture, nor a recording kept from one.
    CaptureNames names;
    const int formed = CaptureNames::Make(request.folder, request.name, names);
    NameClaim claim;
    SystemError error;
    SessionResult result = kSessionStopped;
    std::unique_ptr<CableLine> line;
    Recording recording;
    const auto started = std::chrono::system_clock::now();
    record::Sha256 received;
    if (formed != kFinishOk) {
        result = kSessionCannotOpenFile;
        out.detail = FinishResultText(formed);
    } else if (const NameClaim::Result claimed = claim.Take(names.Claim(), &error);
               claimed != NameClaim::kClaimed) {
        result = claimed == NameClaim::kTaken ? kSessionNameInUse : kSessionCannotOpenFile;
        out.detail = claimed == NameClaim::kTaken ? names.Claim() : error.text;
    } else if (!(line = env.OpenPort(request.port, error))) {
        result = kSessionCannotOpenPort;
        out.detail = WithReason(request.port, error); // which device, and why
    } else if ((names.RecordingExists() && !request.replace) || !recording.Open(names, error)) {
        result = kSessionCannotOpenFile;
        out.detail = recording.path.empty() && !error.text.empty() ? error.text : names.Recording();
    } else {
        ReadLoopState state;
        state.received = &received;
        switch (RunReadLoop(
            *line, recording.file, stop, [&env](long long bytes) { env.OnProgress(bytes); },
            state)) {
        case kReadLoopStopped:
            result = kSessionStopped;
            break;
        case kReadLoopReadFailed:
            result = kSessionReadFailed;
            break;
        case kReadLoopWriteFailed:
            result = kSessionWriteFailed;
            break;
        }
        out.bytes = state.bytes;
    }
    const auto ended = std::chrono::system_clock::now();
    line.reset(); // the port is closed as the line goes
    if (recording.file && !recording.Close() && result == kSessionStopped)
        result = kSessionWriteFailed;
    out.result = result;
    if (result == kSessionWriteFailed) {
        // A failed write may have taken part of a read with it: what is kept
        // is what the file holds.
        std::error_code sizeError;
        const std::uintmax_t size = std::filesystem::file_size(PathOf(recording.path), sizeError);
        out.bytes = sizeError ? 0 : static_cast<long long>(size);
    }
    if (!recording.path.empty()) {
        recording.Settle(names, out.bytes);
        env.OnFinishing(out.bytes);
        FinishOptions options;
        options.singleFile = env.FinishAsSingleFile(request.singleFile);
        options.pdf = request.pdf;
        options.paper = request.paper;
        options.text = request.text;
        options.replace = request.replace;
        options.claim = &claim;
        options.printer = request.printer;
        options.storeRaw = request.keepRaw;
        // A recording with data is a capture, with its record; an empty one
        // changes nothing.
        std::optional<CaptureTrail> trail;
        if (out.bytes > 0) {
            trail.emplace(names, request.records,
                          record::CaptureSource{request.instrument, request.port,
                                                request.cableSerial,
                                                PrinterModelName(request.printer)});
            record::CaptureRecord& record = trail->Record();
            record.Started(started);
            record.Ended(ended);
            record.SetReceived(static_cast<std::uint64_t>(out.bytes), received.Finish());
            options.record = &record;
            trail->BeforeFinish(recording.path, request.replace, false);
        }
        // What cut the recording short, said before the files are made.
        const std::string cut = result == kSessionStopped ? std::string() : SessionEndText(out);
        out.finishResult =
            FinishCapture(recording.path.c_str(), names.Base().c_str(), options, &out.finish);
        out.finished = true;
        if (trail) {
            out.recordResult =
                trail->AfterFinish(out.finishResult, out.finish, cut, &out.recordError);
            out.recorded = trail->RecordWritten();
        }
    }
    claim.Release();
    // What was written, or why the session failed, is the last word.
    env.SetStatus(SessionEndText(out).c_str());

    stop.store(1);
    return result;
}

} // namespace zav
