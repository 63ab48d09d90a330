// PDFs of real printouts checked with poppler and qpdf: page count and page
// size (pdfinfo), structure (qpdf --check), each page turned back into dots
// by pdftoppm at 60 x 72 dpi, compared with its page bitmap dot for dot, the
// margin included, and each page's words read back by pdftotext: in physical
// layout at the printer's pitch they are the lines of the text file, columns
// and all; in pdftotext's own layout the same words on the same lines; and
// every word's box lies over the dots of its glyphs.
#include "report/pdf_printout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../render/render_test_support.h"
#include "capture/capture_files.h"
#include "printout.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "render/printout.h"
#include "render/renderer.h"
#include "report/printout_text.h"

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
    int a = -1, b = -1, c = -1, d = -1;
    Shell("pdfinfo -v", &a);
    Shell("qpdf --version", &b);
    Shell("pdftoppm -v", &c);
    Shell("pdftotext -v", &d);
    return a == 0 && b == 0 && c == 0 && d == 0;
}

#define REQUIRE_PDF_TOOLS()                                                                        \
    if (!HaveTools())                                                                              \
    GTEST_SKIP() << "pdfinfo, qpdf, pdftoppm and pdftotext are needed (Debian: poppler-utils, "    \
                    "qpdf)"

// The pages of a text, split at its form feeds; the lines of each, without
// the empty ones (pdftotext marks vertical gaps with empty lines).
std::vector<std::vector<std::string>> PagesOf(const std::string& text) {
    std::vector<std::vector<std::string>> pages(1);
    std::string line;
    for (const char c : text) {
        if (c == '\n' || c == zav::kTextPageBreak) {
            if (!line.empty())
                pages.back().push_back(line);
            line.clear();
            if (c == zav::kTextPageBreak)
                pages.emplace_back();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        pages.back().push_back(line);
    return pages;
}

// A line's words, whatever the spaces between them.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
        const std::size_t end = line.find(' ', at);
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

// The columns of a 6-dot cell, in points.
constexpr double kCellPoints = 7.2;

// The words of each page of `pdf` as pdftotext reads them: in physical
// layout at the printer's pitch from the image's left edge, or in
// pdftotext's own layout.
std::vector<std::vector<std::string>> PdfLines(const std::string& pdf, bool atPitch) {
    const std::string options = atPitch ? "-fixed 7.2 -x 28 -y 0 -W 100000 -H 100000" : "-layout";
    int status = -1;
    std::string text = Shell("pdftotext " + options + " " + Quote(pdf) + " -", &status);
    EXPECT_EQ(status, 0);
    // pdftotext ends every page with a form feed; the text file separates them.
    if (!text.empty() && text.back() == zav::kTextPageBreak)
        text.pop_back();
    return PagesOf(text);
}

// Every page of `pdf` holds the words of `text` (the text file's form):
// columns and all at the printer's pitch, the same words on each line in
// pdftotext's own layout.
void CheckPdfText(const std::string& pdf, const std::string& text) {
    SCOPED_TRACE(pdf + ": text");
    const auto want = PagesOf(text);
    EXPECT_EQ(PdfLines(pdf, true), want);
    const auto layout = PdfLines(pdf, false);
    ASSERT_EQ(layout.size(), want.size());
    for (std::size_t page = 0; page < want.size(); ++page) {
        ASSERT_EQ(layout[page].size(), want[page].size()) << "page " << page + 1;
        for (std::size_t line = 0; line < want[page].size(); ++line)
            EXPECT_EQ(Words(layout[page][line]), Words(want[page][line]))
                << "page " << page + 1 << ": " << layout[page][line];
    }
}

// Each word pdftotext finds on page `number` lies over its glyphs: it begins
// at a cell's left edge, is as wide as its cells, and the band of 8 rows
// around the middle of its box holds the dots drawn in its columns. A page
// without words gives none.
void CheckWordBoxes(const std::string& pdf, int number, const std::string& bitmap,
                    bool hasWords = true) {
    SCOPED_TRACE(pdf + ": word boxes on page " + std::to_string(number));
    const std::string n = std::to_string(number);
    const std::string html =
        Shell("pdftotext -bbox -f " + n + " -l " + n + " " + Quote(pdf) + " -");
    const zavtest::Page page = zavtest::ReadPage(bitmap);
    int words = 0;
    for (std::size_t at = html.find("<word "); at != std::string::npos;
         at = html.find("<word ", at + 1)) {
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        int length = 0;
        ASSERT_EQ(std::sscanf(html.c_str() + at,
                              "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">%*[^<]%n",
                              &x0, &y0, &x1, &y1, &length),
                  4);
        const std::size_t textAt = html.find('>', at) + 1;
        std::string word = html.substr(textAt, html.find('<', textAt) - textAt);
        for (const auto& [entity, c] :
             {std::pair{"&amp;", "&"}, std::pair{"&lt;", "<"}, std::pair{"&gt;", ">"},
              std::pair{"&quot;", "\""}, std::pair{"&apos;", "'"}}) {
            for (std::size_t e = word.find(entity); e != std::string::npos; e = word.find(entity))
                word.replace(e, std::strlen(entity), c);
        }
        const auto chars =
            std::count_if(word.begin(), word.end(), [](char c) { return (c & 0xC0) != 0x80; });
        ++words;
        const double column = (x0 - 24 * 1.2) / kCellPoints;
        EXPECT_NEAR(column, std::round(column), 0.01) << word;
        EXPECT_NEAR(x1 - x0, kCellPoints * static_cast<double>(chars), 0.01) << word;
        // The glyphs' rows: dots in the word's columns within 4 rows of the
        // middle of its box (the next line's are 12 rows away).
        const int middle = static_cast<int>(std::lround((y0 + y1) / 2 - 29));
        const int first = static_cast<int>(std::lround(column)) * 6;
        const int last = std::min(page.width, first + 6 * static_cast<int>(chars));
        int inside = 0;
        for (int y = std::max(0, middle - 4); y <= std::min(page.height - 1, middle + 4); ++y) {
            for (int x = first; x < last; ++x)
                inside += page.Dot(x, y);
        }
        EXPECT_GT(inside, 0) << word << ": no glyph under its box";
    }
    EXPECT_EQ(words > 0, hasWords);
}

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
                                        zav::PdfPaper paper, std::string& pdf,
                                        std::string* printed = nullptr) {
    zavtool::PrintoutOptions options;
    options.pages = pages;
    const std::string raw = dir.File("run.tmp");
    zavtest::WriteBytes(raw, zavtool::GeneratePrintout(options, printed));
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
        std::string printed;
        const std::vector<std::string> bitmaps = FinishPrintout(dir, 3, paper, pdf, &printed);
        EXPECT_EQ(pdf, dir.File("run.pdf"));
        CheckPdf(pdf, bitmaps, paper, dir);
        EXPECT_EQ(zavtest::ReadBytes(dir.File("run.txt")), zavtest::Text(printed));
        CheckPdfText(pdf, printed);
        CheckWordBoxes(pdf, 2, bitmaps[1]);
        // The report and the bitmaps are made as ever, beside the PDF.
        EXPECT_TRUE(fs::exists(dir.File("run.html")));
        EXPECT_EQ(dir.List(),
                  (std::vector<std::string>{"page.pgm", "run.html", "run.pdf", "run.txt",
                                            "run001.bmp", "run001.cpt", "run002.bmp", "run002.cpt",
                                            "run003.bmp", "run003.cpt"}));
    }
}

TEST(PdfWithTools, ThousandPages) {
    REQUIRE_PDF_TOOLS();
    zavtest::ScratchDir dir;
    std::string pdf;
    std::string printed;
    const std::vector<std::string> bitmaps =
        FinishPrintout(dir, 1000, zav::PdfPaper::A4, pdf, &printed);
    ASSERT_EQ(bitmaps.size(), 1000u);
    // Structure and count of all; the dots of the first, a middle and the last.
    CheckPdf(pdf, bitmaps, zav::PdfPaper::A4, dir, {1, 500, 1000});
    // The words of every page, as printed and as the text file holds them.
    EXPECT_EQ(zavtest::ReadBytes(dir.File("run.txt")), zavtest::Text(printed));
    CheckPdfText(pdf, printed);
    CheckWordBoxes(pdf, 1000, bitmaps.back());
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
        zav::PageText text;
        ASSERT_EQ(zav::RenderCaptureFile(capture.c_str(), nullptr, &text), zav::kRenderOk)
            << capture;
        const std::string bitmap = BitmapsOf({capture})[0];
        const std::string pdf = fs::path(capture).replace_extension(".pdf").string();
        zav::PrintoutPdfOptions options;
        options.keep = {capture};
        ASSERT_EQ(zav::WritePrintoutPdf(pdf, {bitmap}, options, nullptr, {text}), zav::kPdfOk)
            << capture;
        CheckPdf(pdf, {bitmap}, zav::PdfPaper::A4, dir);
        CheckPdfText(pdf, text.PlainText());
        CheckWordBoxes(pdf, 1, bitmap, !text.PlainText().empty());
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

// An Epson 9-pin printout of two sheets, finished page by page: each sheet's
// words in the text file (the German set chosen on the first sheet holds on
// the second, a bit image's data is no text) and over the sheet in the PDF.
TEST(PdfWithTools, Epson9WordsInTheTextFileAndOverEachSheet) {
    REQUIRE_PDF_TOOLS();
    using namespace std::string_literals;
    zavtest::ScratchDir dir;
    const std::string raw = dir.File("run.tmp");
    zavtest::WriteBytes(raw, zavtest::Text("\x1bR\x02Messung [1]  \xf8"
                                           "C\r\n\x1bK\x04\x00"
                                           "ABCD\r\n  \xc9\xcd\xcd\xbb\f"
                                           "  Seite 2: {|}~ \xe1\r\n\tEnde\r\n"s));
    zav::FinishOptions finish;
    finish.pdf = true;
    finish.printer = zav::PrinterModel::Epson9;
    zav::FinishOutcome outcome;
    ASSERT_EQ(zav::FinishCapture(raw.c_str(), dir.File("run").c_str(), finish, &outcome),
              zav::kFinishOk);
    ASSERT_TRUE(outcome.pdfWritten) << zav::PdfResultText(outcome.pdfResult);
    EXPECT_EQ(outcome.captureFiles.size(), 2u);
    const zavtest::Bytes file = zavtest::ReadBytes(dir.File("run.txt"));
    const std::string text(file.begin(), file.end());
    EXPECT_EQ(text, "Messung \xC3\x84"
                    "1\xC3\x9C  \xC2\xB0"
                    "C\n  \xE2\x95\x94\xE2\x95\x90\xE2\x95\x90\xE2\x95\x97\n\f"
                    "  Seite 2: \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F \xC3\x9F\n        Ende\n");
    CheckPdfText(outcome.pdfPath, text);
}

// Characters of other tables than ASCII (a printer model's national sets,
// Greek, box drawing, beyond the first plane) come back as themselves, each
// in its own cell, beside ASCII on the same line.
TEST(PdfWithTools, CharactersBeyondAsciiReadBackAsThemselves) {
    REQUIRE_PDF_TOOLS();
    zavtest::ScratchDir dir;
    const std::string capture = dir.File("page.cpt");
    zavtest::WriteBytes(capture, zavtest::Text("0123456789012345678901234\r\n\r\n0123456789\r\n"));
    ASSERT_EQ(zav::RenderCaptureFile(capture.c_str()), zav::kRenderOk);
    zav::PageText text;
    const std::u32string first =
        U"Gr\u00FC\u00DFe \u03A9=\u03BC\u00B7\u03C3 \u20AC5 \u2554\u2550\u2557";
    const std::u32string second = U"\u2502 \U0001D49C\uFFFD(\\)";
    text.Run({0, 0, 6, 8, {first.data(), first.size()}});
    text.Run({20, 12, 6, 8, {second.data(), second.size()}});
    const std::string pdf = dir.File("page.pdf");
    ASSERT_EQ(zav::WritePrintoutPdf(pdf, {dir.File("page.bmp")}, {}, nullptr, {text}), zav::kPdfOk);
    EXPECT_EQ(PdfLines(pdf, true), PagesOf(text.PlainText()));
    EXPECT_EQ(text.PlainText(), "Gr\xC3\xBC\xC3\x9F"
                                "e \xCE\xA9=\xCE\xBC\xC2\xB7\xCF\x83 "
                                "\xE2\x82\xAC"
                                "5 \xE2\x95\x94\xE2\x95\x90\xE2\x95\x97\n"
                                "  \xE2\x94\x82 \xF0\x9D\x92\x9C\xEF\xBF\xBD(\\)\n");
    int status = -1;
    const std::string check = Shell("qpdf --check " + Quote(pdf), &status);
    EXPECT_EQ(status, 0) << check;
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
