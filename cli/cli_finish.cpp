#include <cstdio>

#include "base/capture_names.h"
#include "base/stdio_file.h"
#include "capture/capture_files.h"
#include "cli/cli.h"
#include "render/renderer.h"
#include "report/html_report.h"
#include "report/pdf_printout.h"
#include "report/printout_text.h"

namespace zav::cli {

namespace {

struct PageLog {
    int renderFailures = 0;
};

// Says what became of each capture file, rendered as soon as the splitter
// completed it.
void TellRendered(const char* capturePath, int result, void* context) {
    auto* log = static_cast<PageLog*>(context);
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

void TellText(const FinishOutcome& outcome) {
    if (outcome.textWritten)
        std::printf("text: %s\n", outcome.textPath.c_str());
    else if (!outcome.textPath.empty())
        std::fprintf(stderr, "%s: not written: %s\n", outcome.textPath.c_str(),
                     TextFileResultText(outcome.textResult));
}

enum FinishOption {
    kFinishFolder,
    kFinishName,
    kFinishSingleFile,
    kFinishPdf,
    kFinishPaper,
    kFinishNoText
};
constexpr OptionInfo kFinishOptions[] = {
    {kFinishFolder, "folder", "DIR", "the folder for the files (default: the current one)"},
    {kFinishName, "name", "NAME", "the name the files are made from (required)"},
    {kFinishSingleFile, "single-file", nullptr, "one capture file DIR/NAME.cpt for all pages"},
    {kFinishPdf, "pdf", nullptr,
     "also write DIR/NAME.pdf: one page per page bitmap at its\nprinted size"},
    {kFinishPaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter"},
    {kFinishNoText, "no-text", nullptr, "no text file DIR/NAME.txt"},
};

const CommandInfo kFinishCommand{
    .name = "finish",
    .synopsis = "finish RAW --name=NAME [OPTION]...",
    .summary = "Turns a raw recording of a printout into capture files, page bitmaps,\n"
               "the report DIR/NAME.html and its words DIR/NAME.txt: one page per form\n"
               "feed (DIR/NAME001.cpt, ...), or DIR/NAME.cpt with --single-file. RAW itself is "
               "never changed\n"
               "or deleted, except DIR/NAME.tmp: the recording a capture session NAME\n"
               "kept when it could not finish becomes the capture files as the session\n"
               "would have made them. Exit status 1 when anything could not be made.",
    .options = kFinishOptions,
    .maxOperands = 1,
};

int RunFinish(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kFinishCommand, argc, argv, args))
        return args.exitStatus;
    const char* folder = "";
    const char* name = nullptr;
    FinishOptions options;
    options.keepRaw = true;
    for (const ParsedOption& option : args.options) {
        switch (option.id) {
        case kFinishFolder:
            folder = option.value;
            break;
        case kFinishName:
            name = option.value;
            break;
        case kFinishSingleFile:
            options.singleFile = true;
            break;
        case kFinishPdf:
            options.pdf = true;
            break;
        case kFinishPaper:
            if (!ParsePdfPaper(option.value, options.paper))
                return UsageError(kFinishCommand, "--paper is a4 or letter");
            break;
        case kFinishNoText:
            options.text = false;
            break;
        }
    }
    const char* raw = args.operands.empty() ? nullptr : args.operands[0];
    if (!raw || !name)
        return UsageError(kFinishCommand, "name the raw recording and --name NAME");
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
    options.onPageRendered = TellRendered;
    options.context = &log;
    FinishOutcome outcome;
    const int result = FinishCapture(raw, names.Base().c_str(), options, &outcome);
    if (outcome.reportWritten)
        std::printf("report: %s\n", outcome.reportPath.c_str());
    else if (result != kFinishCannotOpenRaw && result != kFinishRawIsOutput &&
             result != kFinishPathTooLong)
        std::fprintf(stderr, "%s: %s\n", outcome.reportPath.c_str(),
                     ReportResultText(outcome.reportResult));
    TellText(outcome);
    TellPdf(outcome);
    if (result != kFinishOk && result != kFinishReportFailed && result != kFinishPdfFailed &&
        result != kFinishTextFailed) {
        std::fprintf(stderr, "zavprint finish: %s%s%s\n", FinishResultText(result),
                     outcome.failedFile.empty() ? "" : ": ", outcome.failedFile.c_str());
        if (result != kFinishCannotOpenRaw && result != kFinishPathTooLong)
            std::fprintf(stderr, "zavprint finish: stopped; the raw recording %s is unchanged\n",
                         raw);
    }
    return result == kFinishOk && log.renderFailures == 0 ? 0 : 1;
}

} // namespace zav::cli
