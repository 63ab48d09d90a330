#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli.h"
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

void PrintRenderHelp() {
    std::printf("  zavprint [render] [--pdf [--paper a4|letter]] FILE.cpt...\n"
                "      Renders each capture file into its page bitmap beside it\n"
                "      (FILE.bmp), with --pdf also into FILE.pdf (one page at its\n"
                "      printed size). Exit status 1 when any file failed.\n");
}

int RunRender(int argc, char** argv) {
    bool pdf = false;
    PdfPaper paper = PdfPaper::A4;
    std::vector<const char*> files;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pdf") == 0) {
            pdf = true;
        } else if (std::strcmp(argv[i], "--paper") == 0 && i + 1 < argc) {
            if (!ParsePdfPaper(argv[++i], paper)) {
                std::fprintf(stderr, "zavprint render: --paper is a4 or letter\n");
                return 2;
            }
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "zavprint render: name at least one capture file\n");
        return 2;
    }
    int failed = 0;
    for (const char* path : files) {
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
