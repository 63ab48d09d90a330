#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "render/page_bitmap.h"
#include "render/printout.h"
#include "render/renderer.h"
#include "report/pdf_printout.h"

namespace zav::cli {

namespace {

// FILE.pdf beside the capture file FILE.cpt, from its page bitmaps. False
// when it could not be written (and then no FILE.pdf was left behind).
bool WriteRenderedPdf(const char* capturePath, const std::vector<std::string>& bitmaps,
                      PdfPaper paper) {
    char pdfPath[kPathBufferSize];
    if (!ReplaceExtension(capturePath, "pdf", pdfPath)) {
        std::fprintf(stderr, "%s: no PDF: the name is too long\n", capturePath);
        return false;
    }
    PrintoutPdfOptions options;
    options.paper = paper;
    options.keep = {capturePath};
    std::string failed;
    const int result = WritePrintoutPdf(pdfPath, bitmaps, options, &failed);
    if (result != kPdfOk) {
        std::fprintf(stderr, "%s: no PDF: %s: %s\n", capturePath, PdfResultText(result),
                     failed.c_str());
        return false;
    }
    std::printf("%s: wrote %s\n", capturePath, pdfPath);
    return true;
}

// Collects the bitmaps of one capture file as they are written.
struct Written final : SheetObserver {
    std::vector<std::string> bitmaps;
    void SheetWritten(unsigned, const char* bitmapPath) override {
        bitmaps.emplace_back(bitmapPath);
    }
};

} // namespace

enum RenderOption { kRenderPdf, kRenderPaper, kRenderPrinter };
constexpr OptionInfo kRenderOptions[] = {
    {kRenderPdf, "pdf", nullptr, "also write FILE.pdf: the pages at their printed size"},
    {kRenderPaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter"},
    {kRenderPrinter, "printer", "MODEL",
     "the printer model: basic (default), or epson9 (Epson\n"
     "9-pin, FX/LX): a page bitmap per sheet of paper,\n"
     "FILE.bmp, FILE-2.bmp, FILE-3.bmp ..."},
};

const CommandInfo kRenderCommand{
    .name = "render",
    .synopsis = "[render] [--printer=basic|epson9] [--pdf [--paper=a4|letter]] FILE.cpt...",
    .summary = "Renders each capture file into its page bitmap beside it (FILE.bmp;\n"
               "with --printer=epson9 one per sheet: FILE.bmp, FILE-2.bmp, ...), with\n"
               "--pdf also into FILE.pdf (the pages at their printed size). Each file\n"
               "starts from the printer's power-on state. Exit status 1 when any file\n"
               "failed.",
    .options = kRenderOptions,
    .maxOperands = -1,
};

int RunRender(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kRenderCommand, argc, argv, args))
        return args.exitStatus;
    bool pdf = false;
    PdfPaper paper = PdfPaper::A4;
    PrinterModel printer = PrinterModel::Basic;
    for (const ParsedOption& option : args.options) {
        switch (option.id) {
        case kRenderPdf:
            pdf = true;
            break;
        case kRenderPaper:
            if (!ParsePdfPaper(option.value, paper))
                return UsageError(kRenderCommand, "--paper is a4 or letter");
            break;
        case kRenderPrinter:
            if (!ParsePrinterModel(option.value, printer))
                return UsageError(kRenderCommand, "--printer is basic or epson9");
            break;
        }
    }
    if (args.operands.empty())
        return UsageError(kRenderCommand, "name at least one capture file");
    int failed = 0;
    CaptureRenderer renderer(printer);
    for (const char* path : args.operands) {
        Written written;
        const int result = renderer.Render(path, &written);
        if (result == kRenderOk) {
            for (const std::string& bitmap : written.bitmaps)
                std::printf("%s: wrote %s\n", path, bitmap.c_str());
            if (pdf && !WriteRenderedPdf(path, written.bitmaps, paper))
                ++failed;
        } else {
            std::fprintf(stderr, "%s: not rendered: %s\n", path,
                         WithReason(RenderResultText(result), renderer.Error()).c_str());
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

} // namespace zav::cli
