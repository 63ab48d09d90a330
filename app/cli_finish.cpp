#include <cstdio>
#include <cstring>

#include "app/cli.h"
#include "capture/capture_files.h"
#include "capture/capture_names.h"
#include "render/renderer.h"
#include "render/stdio_file.h"
#include "report/html_report.h"

namespace zav::cli {

namespace {

struct PageLog {
    int renderFailures = 0;
};

// Renders each capture file as soon as the splitter has completed it and says
// what became of it.
void RenderAndTell(const char* capturePath, void* context) {
    auto* log = static_cast<PageLog*>(context);
    const int result = RenderCaptureFile(capturePath);
    if (result == kRenderOk) {
        std::printf("page: %s -> %s\n", capturePath, CaptureNames::BitmapOf(capturePath).c_str());
    } else {
        std::printf("page: %s\n", capturePath);
        std::fprintf(stderr, "%s: not rendered: %s (code %d)\n", capturePath,
                     RenderResultText(result), result);
        ++log->renderFailures;
    }
    std::fflush(stdout);
}

} // namespace

void PrintFinishHelp() {
    std::printf("  zavprint finish RAW [--folder DIR] --name NAME [--single-file]\n"
                "      Turns a raw recording of a printout into capture files, page\n"
                "      bitmaps and the report DIR/NAME.html: one page per form feed\n"
                "      (DIR/NAME001.cpt, ...), or DIR/NAME.cpt with --single-file.\n"
                "      RAW itself is never changed or deleted, except DIR/NAME.tmp: the\n"
                "      recording a capture session NAME kept when it could not finish\n"
                "      becomes the capture files as the session would have made them.\n"
                "      Exit status 1 when anything could not be made.\n");
}

int RunFinish(int argc, char** argv) {
    const char* raw = nullptr;
    const char* folder = "";
    const char* name = nullptr;
    FinishOptions options;
    options.keepRaw = true;
    for (int i = 0; i < argc; ++i) {
        const char* word = argv[i];
        if (std::strcmp(word, "--single-file") == 0) {
            options.singleFile = true;
        } else if (std::strcmp(word, "--folder") == 0 && i + 1 < argc) {
            folder = argv[++i];
        } else if (std::strcmp(word, "--name") == 0 && i + 1 < argc) {
            name = argv[++i];
        } else if (word[0] != '-' && !raw) {
            raw = word;
        } else {
            std::fprintf(stderr, "zavprint finish: unexpected %s (see zavprint --help)\n", word);
            return 2;
        }
    }
    if (!raw || !name) {
        std::fprintf(stderr, "zavprint finish: name the raw recording and --name NAME\n");
        return 2;
    }
    CaptureNames names;
    const int formed = CaptureNames::Make(folder, name, names);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint finish: %s\n", FinishResultText(formed));
        return 2;
    }
    // The recording a session of this name kept: finishing it completes that
    // session, so it goes once its bytes are in the capture files.
    if (IsSameFile(raw, names.Recording().c_str())) {
        options.keepRaw = false;
        std::printf("recovering the kept recording %s\n", raw);
    }

    PageLog log;
    options.onCaptureFile = RenderAndTell;
    options.context = &log;
    FinishOutcome outcome;
    const int result = FinishCapture(raw, names.Base().c_str(), options, &outcome);
    if (outcome.reportWritten)
        std::printf("report: %s\n", outcome.reportPath.c_str());
    else if (result != kFinishCannotOpenRaw && result != kFinishRawIsOutput &&
             result != kFinishPathTooLong)
        std::fprintf(stderr, "%s: %s\n", outcome.reportPath.c_str(),
                     ReportResultText(outcome.reportResult));
    if (result != kFinishOk && result != kFinishReportFailed) {
        std::fprintf(stderr, "zavprint finish: %s%s%s\n", FinishResultText(result),
                     outcome.failedFile.empty() ? "" : ": ", outcome.failedFile.c_str());
        if (result != kFinishCannotOpenRaw && result != kFinishPathTooLong)
            std::fprintf(stderr, "zavprint finish: stopped; the raw recording %s is unchanged\n",
                         raw);
    }
    return result == kFinishOk && log.renderFailures == 0 ? 0 : 1;
}

} // namespace zav::cli
