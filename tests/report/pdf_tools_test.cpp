// PDFs of real printouts checked with poppler and qpdf: page count and page
// size (pdfinfo), structure (qpdf --check), and each page turned back into
// dots by pdftoppm at 60 x 72 dpi, compared with its page bitmap dot for dot,
// the margin included.
#include "report/pdf_printout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../render/render_test_support.h"
#include "capture/capture_files.h"
#include "printout.h"
#include "render/page_bitmap.h"
#include "render/printout.h"
#include "render/renderer.h"

namespace {

namespace fs = std::filesystem;
using zavtest::Bytes;

// Runs a shell command; its standard output, and the exit status in `status`.
std::string Shell(const std::string& command, int* status = nullptr) {
    std::string out;
    if (std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
            out.append(buf, n);
        const int rc = pclose(pipe);
        if (status)
            *status = rc;
    }
    return out;
}

std::string Quote(const std::string& path) {
    std::string q = "'";
    for (char c : path)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool HaveTools() {
    int a = -1, b = -1, c = -1;
    Shell("pdfinfo -v", &a);
    Shell("qpdf --version", &b);
    Shell("pdftoppm -v", &c);
    return a == 0 && b == 0 && c == 0;
}

#define REQUIRE_PDF_TOOLS()                                                                        \
    if (!HaveTools())                                                                              \
    GTEST_SKIP() << "pdfinfo, qpdf and pdftoppm are needed (Debian: poppler-utils, qpdf)"

// The value after "key:" in pdfinfo's output.
std::string Field(const std::string& info, const std::string& key) {
    const std::size_t at = info.find("\n" + key + ":");
    if (at == std::string::npos)
        return {};
    std::size_t start = info.find_first_not_of(' ', at + key.size() + 2);
    return info.substr(start, info.find('\n', start) - start);
}

struct Gray {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    bool Black(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x] < 128; }
};

bool ReadPgm(const std::string& path, Gray& out) {
    const Bytes b = zavtest::ReadBytes(path);
    int maxval = 0, consumed = 0;
    const std::string head(b.begin(),
                           b.begin() + static_cast<long>(std::min<std::size_t>(b.size(), 64)));
    if (std::sscanf(head.c_str(), "P5 %d %d %d%n", &out.width, &out.height, &maxval, &consumed) !=
            3 ||
        maxval != 255)
        return false;
    const std::size_t start = static_cast<std::size_t>(consumed) + 1;
    const std::size_t size = static_cast<std::size_t>(out.width) * out.height;
    if (b.size() < start + size)
        return false;
    out.pixels.assign(b.begin() + static_cast<long>(start),
                      b.begin() + static_cast<long>(start + size));
    return true;
}

// The grid of the page bitmaps: the basic model's 60 x 72 dots per inch, or
// the Epson 9-pin model's 240 x 216.
struct Grid {
    int dotsPerInch = 60;
    int rowsPerInch = 72;
    int MarginDots() const { return 24 * dotsPerInch / 60; } // 10 mm in whole dots
    int MarginRows() const { return 29 * rowsPerInch / 72; }
};

// Dots of page `number` of `pdf` that differ from `bitmap` placed at the
// margin (white paper around it); -1 when the page cannot be rendered.
long DifferingDots(const std::string& pdf, int number, const std::string& bitmap,
                   const zavtest::ScratchDir& dir, Grid grid = {}) {
    const std::string prefix = dir.File("page");
    int status = -1;
    Shell("pdftoppm -rx " + std::to_string(grid.dotsPerInch) + " -ry " +
              std::to_string(grid.rowsPerInch) + " -gray -singlefile -f " + std::to_string(number) +
              " -l " + std::to_string(number) + " " + Quote(pdf) + " " + Quote(prefix),
          &status);
    Gray gray;
    if (status != 0 || !ReadPgm(prefix + ".pgm", gray))
        return -1;
    const zavtest::Page page = zavtest::ReadPage(bitmap);
    // The rendering covers the page: at least the image and both margins.
    if (gray.width < page.width + 2 * grid.MarginDots() - 1 ||
        gray.height < page.height + 2 * grid.MarginRows() - 1)
        return -1;
    long differ = 0;
    for (int y = 0; y < gray.height; ++y) {
        for (int x = 0; x < gray.width; ++x) {
            const int ix = x - grid.MarginDots();
            const int iy = y - grid.MarginRows();
            const bool dot =
                ix >= 0 && iy >= 0 && ix < page.width && iy < page.height && page.Dot(ix, iy);
            differ += dot != gray.Black(x, y);
        }
    }
    return differ;
}

// Page count, each page's size, structure and (for `sample` pages, or all
// when empty) the dots of every page.
void CheckPdf(const std::string& pdf, const std::vector<std::string>& bitmaps, zav::PdfPaper paper,
              const zavtest::ScratchDir& dir, const std::vector<int>& sample = {}, Grid grid = {}) {
    SCOPED_TRACE(pdf);
    int status = -1;
    const std::string check = Shell("qpdf --check " + Quote(pdf), &status);
    EXPECT_EQ(status, 0) << check;
    EXPECT_NE(check.find("No syntax or stream encoding errors"), std::string::npos) << check;

    const std::string info = "\n" + Shell("pdfinfo " + Quote(pdf));
    EXPECT_EQ(Field(info, "Pages"), std::to_string(bitmaps.size()));
    const std::string stem = fs::path(pdf).stem().string();
    EXPECT_EQ(Field(info, "Title"), "ZAV Print - " + stem);
    EXPECT_EQ(Field(info, "Producer").rfind("ZAV Print Utility ", 0), 0u);
    EXPECT_FALSE(Field(info, "CreationDate").empty());

    std::vector<int> pages = sample;
    if (pages.empty()) {
        for (std::size_t i = 1; i <= bitmaps.size(); ++i)
            pages.push_back(static_cast<int>(i));
    }
    for (int number : pages) {
        SCOPED_TRACE("page " + std::to_string(number));
        const std::string& bitmap = bitmaps[static_cast<std::size_t>(number - 1)];
        const zavtest::Page page = zavtest::ReadPage(bitmap);
        // Paper size unless the image with its margins is larger.
        const double paperW = paper == zav::PdfPaper::A4 ? 595.276 : 612;
        const double paperH = paper == zav::PdfPaper::A4 ? 841.89 : 792;
        const double wantW = std::max(paperW, page.width * 72.0 / grid.dotsPerInch + 57.6);
        const double wantH = std::max(paperH, page.height * 72.0 / grid.rowsPerInch + 58.0);
        const std::string size = "\n" + Shell("pdfinfo -f " + std::to_string(number) + " -l " +
                                              std::to_string(number) + " " + Quote(pdf));
        double w = 0, h = 0;
        const std::string key = "Page " +
                                std::string(number < 10     ? "   "
                                            : number < 100  ? "  "
                                            : number < 1000 ? " "
                                                            : "") +
                                std::to_string(number) + " size";
        ASSERT_EQ(std::sscanf(Field(size, key).c_str(), "%lf x %lf", &w, &h), 2) << size;
        EXPECT_NEAR(w, wantW, 0.01);
        EXPECT_NEAR(h, wantH, 0.01);
        EXPECT_EQ(DifferingDots(pdf, number, bitmap, dir, grid), 0) << bitmap;
    }
}

std::vector<std::string> BitmapsOf(const std::vector<std::string>& captures) {
    std::vector<std::string> bitmaps;
    for (const std::string& capture : captures)
        bitmaps.push_back(fs::path(capture).replace_extension(".bmp").string());
    return bitmaps;
}

// Finishes a generated printout with a PDF; returns the bitmaps in order.
std::vector<std::string> FinishPrintout(const zavtest::ScratchDir& dir, int pages,
                                        zav::PdfPaper paper, std::string& pdf) {
    zavtool::PrintoutOptions options;
    options.pages = pages;
    const std::string raw = dir.File("run.tmp");
    zavtest::WriteBytes(raw, zavtool::GeneratePrintout(options));
    zav::FinishOptions finish;
    finish.pdf = true;
    finish.paper = paper;
    zav::FinishOutcome outcome;
    EXPECT_EQ(zav::FinishCapture(raw.c_str(), dir.File("run").c_str(), finish, &outcome),
              zav::kFinishOk);
    EXPECT_TRUE(outcome.pdfWritten) << zav::PdfResultText(outcome.pdfResult);
    EXPECT_EQ(outcome.pageCount, static_cast<unsigned>(pages));
    pdf = outcome.pdfPath;
    return BitmapsOf(outcome.captureFiles);
}

TEST(PdfWithTools, ExamplePrintoutOnA4AndLetter) {
    REQUIRE_PDF_TOOLS();
    for (zav::PdfPaper paper : {zav::PdfPaper::A4, zav::PdfPaper::Letter}) {
        zavtest::ScratchDir dir;
        std::string pdf;
        const std::vector<std::string> bitmaps = FinishPrintout(dir, 3, paper, pdf);
        EXPECT_EQ(pdf, dir.File("run.pdf"));
        CheckPdf(pdf, bitmaps, paper, dir);
        // The report and the bitmaps are made as ever, beside the PDF.
        EXPECT_TRUE(fs::exists(dir.File("run.html")));
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"page.pgm", "run.html", "run.pdf",
                                                        "run001.bmp", "run001.cpt", "run002.bmp",
                                                        "run002.cpt", "run003.bmp", "run003.cpt"}));
    }
}

TEST(PdfWithTools, ThousandPages) {
    REQUIRE_PDF_TOOLS();
    zavtest::ScratchDir dir;
    std::string pdf;
    const std::vector<std::string> bitmaps = FinishPrintout(dir, 1000, zav::PdfPaper::A4, pdf);
    ASSERT_EQ(bitmaps.size(), 1000u);
    // Structure and count of all; the dots of the first, a middle and the last.
    CheckPdf(pdf, bitmaps, zav::PdfPaper::A4, dir, {1, 500, 1000});
}

TEST(PdfWithTools, EverySampleAndAPageWiderThanThePaper) {
    REQUIRE_PDF_TOOLS();
    fs::path folder;
    const std::vector<fs::path> samples = zavtest::SampleCaptures(folder);
    zavtest::ScratchDir dir;
    std::vector<std::string> captures;
    for (const fs::path& sample : samples) {
        captures.push_back(dir.File(sample.stem().string() + ".cpt"));
        fs::copy_file(sample, captures.back());
    }
    // 120 characters of 6 dots: 720 dots, 8.6 mm wider than A4 without margins.
    captures.push_back(dir.File("wide.cpt"));
    zavtest::WriteBytes(captures.back(), zavtest::Text(std::string(120, 'W') + "\r\nend\r\n"));

    bool wider = false;
    for (const std::string& capture : captures) {
        ASSERT_EQ(zav::RenderCaptureFile(capture.c_str()), zav::kRenderOk) << capture;
        const std::string bitmap = BitmapsOf({capture})[0];
        const std::string pdf = fs::path(capture).replace_extension(".pdf").string();
        zav::PrintoutPdfOptions options;
        options.keep = {capture};
        ASSERT_EQ(zav::WritePrintoutPdf(pdf, {bitmap}, options), zav::kPdfOk) << capture;
        CheckPdf(pdf, {bitmap}, zav::PdfPaper::A4, dir);
        wider = wider || zavtest::ReadPage(bitmap).width * 1.2 + 57.6 > 595.276;
    }
    EXPECT_TRUE(wider);
    if (samples.empty())
        GTEST_SKIP() << "no sample captures in " << folder.string()
                     << ": only the page wider than the paper was checked";
}

// The Epson 9-pin model's sheets: 8 x 11 inches at 240 x 216 dots per
// inch, each the size of the paper it was printed on.
TEST(PdfWithTools, Epson9SheetsAtTheirSizeOnPaper) {
    REQUIRE_PDF_TOOLS();
    zavtest::ScratchDir dir;
    const std::string capture = dir.File("scope.cpt");
    fs::path folder;
    const std::vector<fs::path> samples = zavtest::SampleCaptures(folder);
    const auto scope = std::find_if(samples.begin(), samples.end(), [](const fs::path& p) {
        return p.filename() == "scope-tds-epson.esc_p";
    });
    if (scope != samples.end()) {
        fs::copy_file(*scope, capture);
    } else {
        zavtest::WriteBytes(capture, zavtest::Text("\x1bL\x02\x00\xff\x81 scope\f|"));
    }
    zav::CaptureRenderer renderer(zav::PrinterModel::Epson9);
    ASSERT_EQ(renderer.Render(capture.c_str()), zav::kRenderOk);
    std::vector<std::string> bitmaps;
    for (unsigned sheet = 1; sheet <= renderer.Sheets(); ++sheet) {
        char name[zav::kPathBufferSize];
        ASSERT_TRUE(zav::SheetBitmapName(capture, sheet, name));
        bitmaps.push_back(name);
    }
    const std::string pdf = dir.File("scope.pdf");
    zav::PrintoutPdfOptions options;
    options.keep = {capture};
    ASSERT_EQ(zav::WritePrintoutPdf(pdf, bitmaps, options), zav::kPdfOk);
    CheckPdf(pdf, bitmaps, zav::PdfPaper::A4, dir, {}, Grid{240, 216});
}

#ifdef ZAVPRINT_PATH
TEST(PdfWithTools, CommandLineRendersWithPdf) {
    REQUIRE_PDF_TOOLS();
    zavtest::ScratchDir dir;
    const std::string capture = dir.File("one.cpt");
    zavtest::WriteBytes(capture, zavtest::Text("HELLO\r\n"));
    int status = -1;
    const std::string out =
        Shell(std::string(ZAVPRINT_PATH) + " --pdf --paper letter " + Quote(capture), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("wrote " + dir.File("one.pdf")), std::string::npos) << out;
    CheckPdf(dir.File("one.pdf"), {dir.File("one.bmp")}, zav::PdfPaper::Letter, dir);
    // Without --pdf no PDF is made; a bad paper name is refused.
    fs::remove(dir.File("one.pdf"));
    Shell(std::string(ZAVPRINT_PATH) + " render " + Quote(capture), &status);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(dir.File("one.pdf")));
    Shell(std::string(ZAVPRINT_PATH) + " --pdf --paper a3 " + Quote(capture), &status);
    EXPECT_NE(status, 0);
}
#endif

} // namespace
