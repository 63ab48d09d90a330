// Page mode and finishing with the Epson 9-pin model: pages end where sheets
// end, never inside a command; every byte is kept; the report and the PDF
// show every sheet; the names of later sheets belong to their capture.
#include <tuple>
#include <vector>

#include "base/capture_names.h"
#include "capture/capture_files.h"
#include "capture/session.h"

#include "capture_test_support.h"

namespace {

using zavtest::RecordPath;
using Pages = std::vector<std::string>;

class SheetPagesTest : public zavtest::CaptureFolderTest {
  protected:
    Pages Split(const std::string& recording) {
        zavtest::fs::remove_all(dir_);
        zavtest::fs::create_directories(dir_);
        const std::string raw = Path("run.tmp");
        Write(raw, recording);
        std::vector<std::string> done;
        unsigned kept = 99;
        zav::OutputBatch files;
        EXPECT_EQ(zav::SplitIntoPages(raw.c_str(), Path("run").c_str(), files, RecordPath, &done,
                                      &kept, nullptr, nullptr, zav::PrinterModel::Epson9),
                  zav::kFinishOk);
        EXPECT_TRUE(files.Commit());
        Pages pages;
        std::string joined;
        for (const std::string& page : done) {
            pages.push_back(Read(page));
            joined += pages.back();
        }
        EXPECT_EQ(kept, done.size());
        EXPECT_TRUE(zavtest::SameBytes(joined, recording)) << "no byte is dropped";
        return pages;
    }
};

TEST_F(SheetPagesTest, PagesEndWithTheirSheets) {
    EXPECT_EQ(Split("A\fB\f"), (Pages{"A\f", "B\f"}));
    // What prints nothing stays with the page before it; the next page
    // begins where the sheet ended once something is printed after it.
    EXPECT_EQ(Split("\f\fA\f\r\n\033@"), (Pages{"\f\fA\f\r\n\033@"}));
    EXPECT_EQ(Split("A\f\033@\r\nB"), (Pages{"A\f", "\033@\r\nB"}));
    // Form feeds in a bit image's data are dots.
    const std::string image("\033K\x03\x00\x0c\x0c\x0c", 7);
    EXPECT_EQ(Split(image + "\f" + image), (Pages{image + "\f", image}));
    // A sheet of one line (ESC "C" 1): each line feed ends one.
    EXPECT_EQ(Split("\033C\001A\nB\nC"), (Pages{"\033C\001A\n", "B\n", "C"}));
    // A recording longer than a read block, with a bit image across blocks.
    std::string wide("\033L\x40\x9c", 4); // 40000 columns
    wide += std::string(40000, '\x0c');
    const std::string two = wide + "\r\n" + wide + "\f";
    EXPECT_EQ(Split(two + two + "end"), (Pages{two, two, "end"}));
}

TEST_F(SheetPagesTest, FinishingShowsEverySheet) {
    // Three sheets in one capture file: three bitmaps, all in the report.
    const std::string raw = Path("raw.rec");
    Write(raw, "A\fB\fC");
    zav::FinishOptions options;
    options.keepRaw = true;
    options.singleFile = true;
    options.printer = zav::PrinterModel::Epson9;
    zav::FinishOutcome outcome;
    ASSERT_EQ(zav::FinishCapture(raw.c_str(), Path("run").c_str(), options, &outcome),
              zav::kFinishOk);
    EXPECT_EQ(outcome.pageCount, 3u);
    EXPECT_EQ(outcome.sheetBitmaps, (Pages{Path("run.bmp"), Path("run-2.bmp"), Path("run-3.bmp")}));
    const std::string report = Read(Path("run.html"));
    for (const char* image : {"src=\"run.bmp\"", "src=\"run-2.bmp\"", "src=\"run-3.bmp\""})
        EXPECT_NE(report.find(image), std::string::npos) << report;
    EXPECT_NE(report.find("width:8.0000in;height:11.0000in"), std::string::npos) << report;

    // Page mode with a PDF: one page file and one bitmap per sheet; the
    // second page keeps the line spacing the first set (ESC "3" 24).
    options.singleFile = false;
    options.pdf = true;
    options.replace = true;
    Write(raw, "\0333\030A\f\nB\f\nC");
    ASSERT_EQ(zav::FinishCapture(raw.c_str(), Path("run").c_str(), options, &outcome),
              zav::kFinishOk);
    EXPECT_EQ(outcome.captureFiles,
              (Pages{Path("run001.cpt"), Path("run002.cpt"), Path("run003.cpt")}));
    EXPECT_EQ(outcome.sheetBitmaps,
              (Pages{Path("run001.bmp"), Path("run002.bmp"), Path("run003.bmp")}));
    EXPECT_TRUE(outcome.pdfWritten);
    // "\nB" at 24/216 inch: the B's top row is row 24 + 3 of the sheet, so
    // the sheet differs from one at the power-on spacing (row 36 + 3).
    Write(Path("alone.cpt"), "\nB");
    zav::CaptureRenderer alone(zav::PrinterModel::Epson9);
    ASSERT_EQ(alone.Render(Path("alone.cpt").c_str()), zav::kRenderOk);
    EXPECT_NE(Read(Path("alone.bmp")), Read(Path("run002.bmp")));
    Write(Path("alone.cpt"), "\0333\x18\nB");
    ASSERT_EQ(alone.Render(Path("alone.cpt").c_str()), zav::kRenderOk);
    EXPECT_EQ(Read(Path("alone.bmp")), Read(Path("run002.bmp")));
}

TEST_F(SheetPagesTest, LaterSheetsBelongToTheirCapture) {
    const zav::CaptureNames names(Path("run"));
    EXPECT_EQ(zav::CaptureNames::BitmapOf(names.SingleCapture(), 3), Path("run-3.bmp"));
    for (const char* own : {"run-2.bmp", "run001-12.bmp", "run.bmp"})
        Write(Path(own), "x");
    // "run-20.bmp" is the bitmap of a capture "run-20", not a sheet of run's.
    for (const char* other : {"run-0.bmp", "run-1.bmp", "run01-2.bmp", "run-2.cpt.bmp",
                              "run-20.bmp", "run-20.cpt", "run-x.bmp"})
        Write(Path(other), "x");
    Pages own;
    for (const zav::CaptureNames::File& file : names.Files())
        own.push_back(file.path);
    EXPECT_EQ(own, (Pages{Path("run-2.bmp"), Path("run.bmp"), Path("run001-12.bmp")}));
    // It is still in the way of a capture "run" that would write it.
    EXPECT_EQ(names.Existing(), (Pages{Path("run-2.bmp"), Path("run-20.bmp"), Path("run.bmp"),
                                       Path("run001-12.bmp")}));
}

TEST_F(SheetPagesTest, RecordingUnderALaterSheetsNameIsNeverWrittenOver) {
    // The kept recording is also the second sheet's bitmap "run-2.bmp".
    const std::string raw = Path("rec.bin");
    Write(raw, "ABC");
    zavtest::fs::create_hard_link(raw, Path("run-2.bmp"));
    zav::FinishOptions options;
    options.keepRaw = true;
    options.singleFile = true;
    options.printer = zav::PrinterModel::Epson9;
    zav::FinishOutcome outcome;
    zav::FinishCapture(raw.c_str(), Path("run").c_str(), options, &outcome);
    EXPECT_EQ(Read(raw), "ABC");
    EXPECT_EQ(outcome.sheetBitmaps, Pages{Path("run.bmp")});
}

// The Windows program's setting "Printer" chooses the model of its captures
// and conversions; anything else is the basic model.
TEST(PrinterSetting, NamesTheModel) {
    HQUOR store = quorOpen("printer-setting-test");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(zav::PrinterSetting(store), zav::PrinterModel::Basic);
    for (const auto& [text, model] : std::vector<std::pair<const char*, zav::PrinterModel>>{
             {"epson9", zav::PrinterModel::Epson9},
             {"EPSON9", zav::PrinterModel::Epson9},
             {"basic", zav::PrinterModel::Basic},
             {"epson9 ", zav::PrinterModel::Basic},
             {"epson24", zav::PrinterModel::Basic}}) {
        quorSetString(store, "Printer", text);
        EXPECT_EQ(zav::PrinterSetting(store), model) << text;
    }
    quorClose(store);
}

// "Pdf" and "PdfPaper", as the command line remembers them, ask the Windows
// program's captures for a PDF; anything else is none, on A4.
TEST(PdfSettings, AskForThePdfAndItsPaper) {
    HQUOR store = quorOpen("pdf-setting-test");
    ASSERT_NE(store, nullptr);
    bool pdf = true;
    zav::PdfPaper paper = zav::PdfPaper::Letter;
    zav::PdfSettings(store, pdf, paper);
    EXPECT_FALSE(pdf);
    EXPECT_EQ(paper, zav::PdfPaper::A4);
    for (const auto& [on, size, wantPdf, wantPaper] :
         std::vector<std::tuple<const char*, const char*, bool, zav::PdfPaper>>{
             {"1", "letter", true, zav::PdfPaper::Letter},
             {"1", "LETTER", true, zav::PdfPaper::Letter},
             {"0", "letter", false, zav::PdfPaper::Letter},
             {"yes", "a5", false, zav::PdfPaper::A4}}) {
        quorSetString(store, "Pdf", on);
        quorSetString(store, "PdfPaper", size);
        zav::PdfSettings(store, pdf, paper);
        EXPECT_EQ(pdf, wantPdf) << on;
        EXPECT_EQ(paper, wantPaper) << size;
    }
    quorClose(store);
}

} // namespace
