#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "render/renderer.h"
#include "report/pdf_printout.h"
#include "report/printout_text.h"

namespace zav::cli {

namespace {

// FILE.pdf beside the capture file FILE.cpt, from its page bitmap. False when
// it could not be written (and then no FILE.pdf was left behind).
bool WriteRenderedPdf(const char* capturePath, const char* bitmapPath, PdfPaper paper,
                      const PageText& text) {
    char pdfPath[kPathBufferSize];
    if (!ReplaceExtension(capturePath, "pdf", pdfPath)) {
        std::fprintf(stderr, "%s: no PDF: the name is too long\n", capturePath);
        return false;
    }
    PrintoutPdfOptions options;
    options.paper = paper;
    options.keep = {capturePath};
    std::string failed;
    const int result = WritePrintoutPdf(pdfPath, {bitmapPath}, options, &failed, {text});
    if (result != kPdfOk) {
        std::fprintf(stderr, "%s: no PDF: %s: %s\n", capturePath, PdfResultText(result),
                     failed.c_str());
        return false;
    }
    std::printf("%s: wrote %s\n", capturePath, pdfPath);
    return true;
}

// FILE.txt beside the capture file FILE.cpt: the page's words.
bool WriteRenderedText(const char* capturePath, const PageText& text) {
    char textPath[kPathBufferSize];
    const int result = ReplaceExtension(capturePath, "txt", textPath)
                           ? WriteTextFile(textPath, text.PlainText(), {capturePath})
                           : kTextCannotWrite;
    if (result != kTextOk) {
        std::fprintf(stderr, "%s: no text file: %s\n", capturePath, TextFileResultText(result));
        return false;
    }
    std::printf("%s: wrote %s\n", capturePath, textPath);
    return true;
}

} // namespace

enum RenderOption { kRenderPdf, kRenderPaper, kRenderText };
constexpr OptionInfo kRenderOptions[] = {
    {kRenderPdf, "pdf", nullptr, "also write FILE.pdf: the page at its printed size"},
    {kRenderPaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter"},
    {kRenderText, "text", nullptr, "also write FILE.txt: the page's words"},
};

const CommandInfo kRenderCommand{
    .name = "render",
    .synopsis = "[render] [--text] [--pdf [--paper=a4|letter]] FILE.cpt...",
    .summary = "Renders each capture file into its page bitmap beside it (FILE.bmp),\n"
               "with --text also into FILE.txt (its words), with --pdf into FILE.pdf\n"
               "(one page at its printed size, its words over the picture).\n"
               "Exit status 1 when any file failed.",
    .options = kRenderOptions,
    .maxOperands = -1,
};

int RunRender(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kRenderCommand, argc, argv, args))
        return args.exitStatus;
    bool pdf = false;
    bool text = false;
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
        case kRenderText:
            text = true;
            break;
        }
    }
    if (args.operands.empty())
        return UsageError(kRenderCommand, "name at least one capture file");
    int failed = 0;
    for (const char* path : args.operands) {
        PageText words;
        const int result = RenderCaptureFile(path, nullptr, text || pdf ? &words : nullptr);
        if (result == kRenderOk) {
            char bitmap[kPathBufferSize];
            ReplaceExtension(path, "bmp", bitmap);
            std::printf("%s: wrote %s\n", path, bitmap);
            if (text && !WriteRenderedText(path, words))
                ++failed;
            if (pdf && !WriteRenderedPdf(path, bitmap, paper, words))
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
