#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "render/printout.h"
#include "render/renderer.h"
#include "report/pdf_printout.h"
#include "report/printout_text.h"

namespace zav::cli {

namespace {

// The bitmaps of one capture file as they are written, and their words.
struct Written final : SheetObserver {
    std::vector<std::string> bitmaps;
    bool wantText = false;
    std::deque<PageText> texts; // one a sheet; a deque keeps them in place
    TextSink* TextOfSheet(unsigned sheet) override {
        if (!wantText)
            return nullptr;
        texts.resize(sheet);
        return &texts[sheet - 1];
    }
    void SheetWritten(unsigned, const char* bitmapPath) override {
        bitmaps.emplace_back(bitmapPath);
    }
};

// FILE.pdf beside the capture file FILE.cpt, from its page bitmaps and their
// words. False when it could not be written (and then no FILE.pdf was left
// behind).
bool WriteRenderedPdf(const char* capturePath, const Written& written, PdfPaper paper) {
    char pdfPath[kPathBufferSize];
    if (!ReplaceExtension(capturePath, "pdf", pdfPath)) {
        std::fprintf(stderr, "%s: no PDF: the name is too long\n", capturePath);
        return false;
    }
    PrintoutPdfOptions options;
    options.paper = paper;
    options.keep = {capturePath};
    std::string failed;
    const int result =
        WritePrintoutPdf(pdfPath, written.bitmaps, options, &failed,
                         std::vector<PageText>(written.texts.begin(), written.texts.end()));
    if (result != kPdfOk) {
        std::fprintf(stderr, "%s: no PDF: %s: %s\n", capturePath, PdfResultText(result),
                     failed.c_str());
        return false;
    }
    std::printf("%s: wrote %s\n", capturePath, pdfPath);
    return true;
}

// FILE.txt beside the capture file FILE.cpt: the words of its sheets.
bool WriteRenderedText(const char* capturePath, const Written& written) {
    std::string words;
    for (std::size_t i = 0; i < written.bitmaps.size(); ++i)
        AppendTextPage(words, i < written.texts.size() ? written.texts[i] : PageText{}, i == 0);
    char textPath[kPathBufferSize];
    const int result = ReplaceExtension(capturePath, "txt", textPath)
                           ? WriteTextFile(textPath, words, {capturePath})
                           : kTextCannotWrite;
    if (result != kTextOk) {
        std::fprintf(stderr, "%s: no text file: %s\n", capturePath, TextFileResultText(result));
        return false;
    }
    std::printf("%s: wrote %s\n", capturePath, textPath);
    return true;
}

} // namespace

enum RenderOption { kRenderPdf, kRenderPaper, kRenderText, kRenderPrinter };
constexpr OptionInfo kRenderOptions[] = {
    {kRenderPdf, "pdf", nullptr, "also write FILE.pdf: the pages at their printed size"},
    {kRenderPaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter"},
    {kRenderText, "text", nullptr, "also write FILE.txt: the pages' words"},
    {kRenderPrinter, "printer", "MODEL",
     "the printer model: basic (default), or epson9 (Epson\n"
     "9-pin, FX/LX): a page bitmap per sheet of paper,\n"
     "FILE.bmp, FILE-2.bmp, FILE-3.bmp ..."},
};

const CommandInfo kRenderCommand{
    .name = "render",
    .synopsis =
        "[render] [--printer=basic|epson9] [--text] [--pdf [--paper=a4|letter]] FILE.cpt...",
    .summary = "Renders each capture file into its page bitmap beside it (FILE.bmp;\n"
               "with --printer=epson9 one per sheet: FILE.bmp, FILE-2.bmp, ...), with\n"
               "--text also into FILE.txt (its words), with --pdf into FILE.pdf (the\n"
               "pages at their printed size, their words over the pictures). Each file\n"
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
    bool text = false;
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
        case kRenderText:
            text = true;
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
        written.wantText = text || pdf;
        const int result = renderer.Render(path, &written);
        if (result == kRenderOk) {
            for (const std::string& bitmap : written.bitmaps)
                std::printf("%s: wrote %s\n", path, bitmap.c_str());
            if (text && !WriteRenderedText(path, written))
                ++failed;
            if (pdf && !WriteRenderedPdf(path, written, paper))
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
