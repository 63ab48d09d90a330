#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/capture_names.h"
#include "base/stdio_file.h"
#include "base/utf8_names.h"
#include "capture/capture_files.h"
#include "cli/cli.h"
#include "render/renderer.h"
#include "report/pdf_printout.h"

namespace zav::cli {

void TellFinished(const FinishOutcome& outcome) {
    for (const PageOutcome& page : outcome.pages) {
        if (page.renderResult != kRenderOk) {
            std::printf("page: %s (not drawn)\n", page.capture.c_str());
            std::fprintf(stderr, "%s: not drawn: %s\n", page.capture.c_str(),
                         RenderResultText(page.renderResult));
        } else if (page.empty) {
            std::printf("page: %s -> %s (an empty sheet)\n", page.capture.c_str(),
                        page.bitmap.c_str());
        } else {
            std::printf("page: %s -> %s\n", page.capture.c_str(), page.bitmap.c_str());
        }
    }
    // The Epson 9-pin model's sheets, when a capture file has more than one.
    if (outcome.sheetBitmaps.size() > outcome.captureFiles.size()) {
        for (const std::string& bitmap : outcome.sheetBitmaps)
            std::printf("sheet: %s\n", bitmap.c_str());
    }
    if (outcome.reportWritten)
        std::printf("report: %s\n", outcome.reportPath.c_str());
    if (outcome.pdfWritten)
        std::printf("pdf: %s\n", outcome.pdfPath.c_str());
    else if (outcome.reportWritten && outcome.pdfResult == kPdfNoPages)
        std::printf("pdf: none, no page could be drawn\n");
    std::fflush(stdout);
}

void TellNotFinished(const char* command, int result, const FinishOutcome& outcome) {
    std::string why = FinishResultText(result);
    if (!outcome.failedFile.empty())
        why += ": " + outcome.failedFile;
    std::fprintf(stderr, "zavprint %s: %s\n", command, WithReason(why, outcome.error).c_str());
}

enum FinishOption {
    kFinishFolder,
    kFinishName,
    kFinishSingleFile,
    kFinishPdf,
    kFinishPaper,
    kFinishOverwrite,
    kFinishPrinter
};
constexpr OptionInfo kFinishOptions[] = {
    {kFinishFolder, "folder", "DIR",
     "the folder for the files (default: the current one;\nmade when missing)"},
    {kFinishName, "name", "NAME", "the name the files are made from (required)"},
    {kFinishSingleFile, "single-file", nullptr, "one capture file DIR/NAME.cpt for all pages"},
    {kFinishPdf, "pdf", nullptr,
     "also write DIR/NAME.pdf: one page per page bitmap at its\nprinted size"},
    {kFinishPaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter"},
    {kFinishOverwrite, "overwrite", nullptr, "replace an earlier capture NAME in DIR"},
    {kFinishPrinter, "printer", "MODEL",
     "the printer model: basic (default) or epson9 (Epson\n"
     "9-pin: a page per sheet of paper, cut where the sheets end)"},
};

const CommandInfo kFinishCommand{
    .name = "finish",
    .synopsis = "finish RAW --name=NAME [OPTION]...",
    .summary = "Turns a raw recording of a printout into capture files, page bitmaps\n"
               "and the report DIR/NAME.html: one page per form feed (DIR/NAME001.cpt,\n"
               "...), or DIR/NAME.cpt with --single-file. RAW itself is never changed\n"
               "or deleted, except DIR/NAME.tmp: the recording a capture session NAME\n"
               "kept when it could not finish becomes the capture files as the session\n"
               "would have made them. It does not replace the files of an earlier\n"
               "capture NAME unless --overwrite; then exactly the new capture's files\n"
               "are left. Everything is made whole or not at all. Exit status 1 when\n"
               "anything could not be made, or a page could not be drawn.",
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
        case kFinishOverwrite:
            options.replace = true;
            break;
        case kFinishPrinter:
            if (!ParsePrinterModel(option.value, options.printer))
                return UsageError(kFinishCommand, "--printer is basic or epson9");
            break;
        }
    }
    const char* raw = args.operands.empty() ? nullptr : args.operands[0];
    if (!raw || !name)
        return UsageError(kFinishCommand, "name the raw recording and --name NAME");
    CaptureNames names;
    const int formed = CaptureNames::Make(folder, name, names);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint finish: %s\n",
                     formed == kBasePathNotAName ? kNotANameText : FinishResultText(formed));
        return kExitUsage;
    }
    if (*folder) {
        std::error_code error;
        std::filesystem::create_directories(PathOf(folder), error);
        if (!std::filesystem::is_directory(PathOf(folder), error)) {
            std::fprintf(stderr, "zavprint finish: the folder %s cannot be made%s%s\n", folder,
                         error ? ": " : "", error ? error.message().c_str() : "");
            return 1;
        }
    }
    // The recording a session of this name kept: finishing it completes that
    // session, so it goes once its bytes are in the capture files.
    if (IsSameFile(raw, names.Recording().c_str())) {
        options.keepRaw = false;
        std::printf("recovering the kept recording %s\n", raw);
    }

    FinishOutcome outcome;
    const int result = FinishCapture(raw, names.Base().c_str(), options, &outcome);
    switch (result) {
    case kFinishOk:
        TellFinished(outcome);
        return outcome.NotDrawn() == 0 ? 0 : 1;
    case kFinishEmpty:
        std::fprintf(stderr, "zavprint finish: %s is empty: nothing was changed\n", raw);
        return 1;
    case kFinishInTheWay:
        std::fprintf(stderr,
                     "zavprint finish: %s is in the way (an earlier capture named %s); give "
                     "another --name, or --overwrite to replace it\n",
                     outcome.failedFile.c_str(), name);
        return 1;
    case kFinishNameInUse:
        std::fprintf(stderr,
                     "zavprint finish: another program is making a capture named %s (it holds "
                     "%s; remove that file if none is running)\n",
                     name, outcome.failedFile.c_str());
        return 1;
    default:
        TellNotFinished("finish", result, outcome);
        if (result != kFinishCannotOpenRaw)
            std::fprintf(stderr,
                         "zavprint finish: nothing was changed; the raw recording %s is "
                         "kept\n",
                         raw);
        return 1;
    }
}

} // namespace zav::cli
