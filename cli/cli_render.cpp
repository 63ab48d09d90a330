#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"
#include "report/pdf_printout.h"

namespace zav::cli {

namespace {

// FILE.pdf beside the capture file FILE.cpt, from its page bitmap. False when
// it could not be written (and then no FILE.pdf was left behind).
bool WriteRenderedPdf(const char* capturePath, const char* bitmapPath, PdfPaper paper) {
    char pdfPath[kPathBufferSize];
    if (!ReplaceExtension(capturePath, "pdf", pdfPath)) {
        std::fprintf(stderr, "%s: no PDF: the name is too long\n", capturePath);
        return false;
    }
    PrintoutPdfOptions options;
    options.paper = paper;
    options.keep = {capturePath};
    std::string failed;
    const int result = WritePrintoutPdf(pdfPath, {bitmapPath}, options, &failed);
    if (result != kPdfOk) {
        std::fprintf(stderr, "%s: no PDF: %s: %s\n", capturePath, PdfResultText(result),
                     failed.c_str());
        return false;
    }
    std::printf("%s: wrote %s\n", capturePath, pdfPath);
    return true;
}

} // namespace

enum RenderOption { kRenderPdf, kRenderPaper };
constexpr OptionInfo kRenderOptions[] = {
    {kRenderPdf, "pdf", nullptr, "also write FILE.pdf: the page at its printed size"},
    {kRenderPaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter"},
};

const CommandInfo kRenderCommand{
    .name = "render",
    .synopsis = "[render] [--pdf [--paper=a4|letter]] FILE.cpt...",
    .summary = "Renders each capture file into its page bitmap beside it (FILE.bmp),\n"
               "with --pdf also into FILE.pdf (one page at its printed size).\n"
               "Exit status 1 when any file failed.",
    .options = kRenderOptions,
    .maxOperands = -1,
};

int RunRender(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kRenderCommand, argc, argv, args))
        return args.exitStatus;
    bool pdf = false;
    PdfPaper paper = PdfPaper::A4;
    for (const ParsedOption& option : args.options) {
        switch (option.id) {
        case kRenderPdf:
            pdf = true;
            break;
        case kRenderPaper:
            if (!ParsePdfPaper(option.value, paper))
                return UsageError(kRenderCommand, "--paper is a4 or letter");
            break;
        }
    }
    if (args.operands.empty())
        return UsageError(kRenderCommand, "name at least one capture file");
    int failed = 0;
    for (const char* path : args.operands) {
        const int result = RenderCaptureFile(path);
        if (result == kRenderOk) {
            char bitmap[kPathBufferSize];
            ReplaceExtension(path, "bmp", bitmap);
            std::printf("%s: wrote %s\n", path, bitmap);
            if (pdf && !WriteRenderedPdf(path, bitmap, paper))
                ++failed;
        } else {
            std::fprintf(stderr, "%s: not rendered: %s (code %d)\n", path, RenderResultText(result),
                         result);
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

} // namespace zav::cli
