#include <cstdio>
#include <cstring>

#include "app/cli.h"
#include "capture/capture_files.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"
#include "report/html_report.h"
#include "report/pdf_printout.h"

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
        char bitmap[kPathBufferSize];
        ReplaceExtension(capturePath, "bmp", bitmap);
        std::printf("page: %s -> %s\n", capturePath, bitmap);
    } else {
        std::printf("page: %s\n", capturePath);
        std::fprintf(stderr, "%s: not rendered: %s (code %d)\n", capturePath,
                     RenderResultText(result), result);
        ++log->renderFailures;
    }
    std::fflush(stdout);
}

} // namespace

void TellPdf(const FinishOutcome& outcome) {
    if (outcome.pdfWritten)
        std::printf("pdf: %s\n", outcome.pdfPath.c_str());
    else if (outcome.pdfResult == kPdfNoPages)
        std::printf("pdf: none, the recording has no page\n");
    else if (outcome.pdfResult != kPdfOk)
        std::fprintf(stderr, "%s: not written: %s%s%s\n", outcome.pdfPath.c_str(),
                     PdfResultText(outcome.pdfResult), outcome.failedFile.empty() ? "" : ": ",
                     outcome.failedFile.c_str());
}

void PrintFinishHelp() {
    std::printf("  zavprint finish RAW [--folder DIR] --name NAME [--single-file]\n"
                "                  [--pdf [--paper a4|letter]]\n"
                "      Turns a raw recording of a printout into capture files, page\n"
                "      bitmaps and the report DIR/NAME.html: one page per form feed\n"
                "      (DIR/NAME001.cpt, ...), or DIR/NAME.cpt with --single-file.\n"
                "      --pdf also writes DIR/NAME.pdf, one page per page bitmap at its\n"
                "      printed size, on A4 (or Letter) or larger where a page needs it.\n"
                "      RAW itself is never changed or deleted. Exit status 1 when\n"
                "      anything could not be made.\n");
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
        } else if (std::strcmp(word, "--pdf") == 0) {
            options.pdf = true;
        } else if (std::strcmp(word, "--paper") == 0 && i + 1 < argc) {
            if (!ParsePdfPaper(argv[++i], options.paper)) {
                std::fprintf(stderr, "zavprint finish: --paper is a4 or letter\n");
                return 2;
            }
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
    char base[kPathBufferSize];
    const int formed = MakeBasePath(folder, name, base, sizeof base);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint finish: %s\n", FinishResultText(formed));
        return 2;
    }

    PageLog log;
    options.onCaptureFile = RenderAndTell;
    options.context = &log;
    FinishOutcome outcome;
    const int result = FinishCapture(raw, base, options, &outcome);
    if (outcome.reportWritten)
        std::printf("report: %s\n", outcome.reportPath.c_str());
    else if (result != kFinishCannotOpenRaw && result != kFinishRawIsOutput &&
             result != kFinishPathTooLong)
        std::fprintf(stderr, "%s: %s\n", outcome.reportPath.c_str(),
                     ReportResultText(outcome.reportResult));
    TellPdf(outcome);
    if (result != kFinishOk && result != kFinishReportFailed && result != kFinishPdfFailed) {
        std::fprintf(stderr, "zavprint finish: %s%s%s\n", FinishResultText(result),
                     outcome.failedFile.empty() ? "" : ": ", outcome.failedFile.c_str());
        if (result != kFinishCannotOpenRaw && result != kFinishPathTooLong)
            std::fprintf(stderr, "zavprint finish: stopped; the raw recording %s is unchanged\n",
                         raw);
    }
    return result == kFinishOk && log.renderFailures == 0 ? 0 : 1;
}

} // namespace zav::cli
