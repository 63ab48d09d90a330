#include "capture/capture_files.h"
#include "printout.h"
#include "report/pdf_printout.h"
#include "report/printout_text.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>

#include "capture_test_support.h"

namespace {

using zavtest::RecordPath;
using zavtest::fs::exists;

class FinishTest : public zavtest::CaptureFolderTest {
  protected:
    // A kept recording lies under a name of its own; a recording that the
    // step may consume is the capture session's "run.tmp".
    int Finish(const std::string& recording, bool singleFile, bool keepRaw = false) {
        raw_ = Path(keepRaw ? "recording.raw" : "run.tmp");
        Write(raw_, recording);
        zav::FinishOptions options;
        options.singleFile = singleFile;
        options.keepRaw = keepRaw;
        options.onCaptureFile = RecordPath;
        options.context = &handed_;
        handed_.clear();
        return zav::FinishCapture(raw_.c_str(), Path("run").c_str(), options, &outcome_);
    }
    std::string Report(const std::string& images) const {
        return "<html>\r\n<head>\r\n<title>ZAV Print - run</title>\r\n</head>\r\n<body>\r\n" +
               images + "</body>\r\n</html>\r\n";
    }

    std::string raw_;
    std::vector<std::string> handed_;
    zav::FinishOutcome outcome_;
};

const std::string kSingle = "<img border=1 src=\"run.bmp\" alt=\"single page\">\r\n";

TEST_F(FinishTest, SingleFileMode) {
    ASSERT_EQ(Finish("AB\fCD\f", true), zav::kFinishOk);
    EXPECT_FALSE(exists(raw_));
    EXPECT_EQ(Read(Path("run.cpt")), "AB\fCD\f");
    EXPECT_EQ(handed_, std::vector<std::string>{Path("run.cpt")});
    EXPECT_EQ(outcome_.captureFiles, handed_);
    EXPECT_EQ(Read(Path("run.html")), Report(kSingle));
    EXPECT_TRUE(outcome_.reportWritten);
    EXPECT_EQ(outcome_.reportPath, Path("run.html"));

    // Keeping the recording copies it.
    ASSERT_EQ(Finish("XY", true, true), zav::kFinishOk);
    EXPECT_EQ(Read(raw_), "XY");
    EXPECT_EQ(Read(Path("run.cpt")), "XY");

    // An empty recording removes the old capture file and reports no page.
    ASSERT_EQ(Finish("", true), zav::kFinishOk);
    EXPECT_FALSE(exists(raw_));
    EXPECT_FALSE(exists(Path("run.cpt")));
    EXPECT_TRUE(handed_.empty());
    EXPECT_EQ(Read(Path("run.html")), Report(""));

    // No recording at the path (mistyped, or gone): the capture file and the
    // report of an earlier session stay.
    ASSERT_EQ(Finish("XY", true, true), zav::kFinishOk);
    const std::string report = Read(Path("run.html"));
    zavtest::fs::remove(raw_);
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), {true}, &outcome_),
              zav::kFinishCannotOpenRaw);
    EXPECT_EQ(outcome_.failedFile, raw_);
    EXPECT_EQ(Read(Path("run.cpt")), "XY");
    EXPECT_EQ(Read(Path("run.html")), report);
}

TEST_F(FinishTest, PageMode) {
    ASSERT_EQ(Finish("AB\fCD\fX", false), zav::kFinishOk);
    EXPECT_FALSE(exists(raw_));
    EXPECT_EQ(handed_, (std::vector<std::string>{Path("run001.cpt"), Path("run002.cpt")}));
    EXPECT_EQ(outcome_.pageCount, 2u);
    EXPECT_EQ(Read(Path("run.html")),
              Report("<img border=1 src=\"run001.bmp\" alt=\"page 1\">\r\n"
                     "<P STYLE=page-break-before:always>\r\n"
                     "<img border=1 src=\"run002.bmp\" alt=\"page 2\">\r\n"));

    ASSERT_EQ(Finish("", false, true), zav::kFinishOk);
    EXPECT_TRUE(exists(raw_));
    EXPECT_FALSE(exists(Path("run001.cpt")));
    EXPECT_EQ(Read(Path("run.html")), Report(""));

    // No recording: nothing is made, not even a report.
    zavtest::fs::remove(raw_);
    zavtest::fs::remove(Path("run.html"));
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), {}, nullptr),
              zav::kFinishCannotOpenRaw);
    EXPECT_FALSE(exists(Path("run.html")));
}

TEST_F(FinishTest, PageThatCannotBeCreatedKeepsTheRecording) {
    zavtest::fs::create_directory(Path("run002.cpt"));
    EXPECT_EQ(Finish("AB\fCD\fEF", false), zav::kFinishCannotCreatePage);
    EXPECT_EQ(Read(raw_), "AB\fCD\fEF");
    EXPECT_EQ(outcome_.failedFile, Path("run002.cpt"));
    EXPECT_EQ(handed_, std::vector<std::string>{Path("run001.cpt")});
    // The report shows the pages that were made.
    EXPECT_EQ(Read(Path("run.html")),
              Report("<img border=1 src=\"run001.bmp\" alt=\"page #1\">\r\n"));
}

TEST_F(FinishTest, RecordingIsNeverOverwrittenByItsOwnOutput) {
    // A recording named like the second page: refused before that page is
    // made, and left as it was.
    const std::string recording = "AB\fCD\fEF";
    Write(Path("run002.cpt"), recording);
    zav::FinishOptions keep;
    keep.keepRaw = true;
    keep.onCaptureFile = RecordPath;
    keep.context = &handed_;
    EXPECT_EQ(zav::FinishCapture(Path("run002.cpt").c_str(), Path("run").c_str(), keep, nullptr),
              zav::kFinishRawIsOutput);
    EXPECT_EQ(Read(Path("run002.cpt")), recording);

    // The session's own recording name, kept in single-file mode: rendering
    // writes nothing under it.
    Write(Path("run.tmp"), recording);
    keep.singleFile = true;
    EXPECT_EQ(zav::FinishCapture(Path("run.tmp").c_str(), Path("run").c_str(), keep, nullptr),
              zav::kFinishOk);
    EXPECT_EQ(Read(Path("run.tmp")), recording);
    EXPECT_EQ(Read(Path("run.cpt")), recording);

    // The recording already is the single capture file: used where it lies.
    Write(Path("run.cpt"), recording);
    handed_.clear();
    EXPECT_EQ(zav::FinishCapture(Path("run.cpt").c_str(), Path("run").c_str(), keep, nullptr),
              zav::kFinishOk);
    EXPECT_EQ(Read(Path("run.cpt")), recording);
    EXPECT_EQ(handed_, std::vector<std::string>{Path("run.cpt")});
}

TEST_F(FinishTest, RendersEachPageBesideIt) {
    // The default action renders: every kept page gets its bitmap.
    raw_ = Path("run.tmp");
    Write(raw_, "HELLO\r\n\fWORLD\r\n\f");
    zav::FinishOutcome outcome;
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), {}, &outcome), zav::kFinishOk);
    ASSERT_EQ(outcome.captureFiles.size(), 2u);
    EXPECT_TRUE(exists(Path("run001.bmp")));
    EXPECT_TRUE(exists(Path("run002.bmp")));
    EXPECT_FALSE(exists(Path("run003.cpt")));
}

// The page after the last one is cleared away as stale: never when it is the
// recording being finished, under that name or another link to it.
TEST_F(FinishTest, RecordingNamedLikeAStalePageIsKept) {
    zav::FinishOptions keep;
    keep.keepRaw = true;
    keep.onCaptureFile = RecordPath;
    keep.context = &handed_;
    Write(Path("run002.cpt"), "HELLO\r\n\f");
    EXPECT_EQ(zav::FinishCapture(Path("run002.cpt").c_str(), Path("run").c_str(), keep, nullptr),
              zav::kFinishOk);
    EXPECT_EQ(Read(Path("run002.cpt")), "HELLO\r\n\f");
    EXPECT_EQ(Read(Path("run001.cpt")), "HELLO\r\n\f");

    zavtest::fs::remove(Path("run002.cpt"));
    Write(Path("logger.bin"), "HELLO\r\n\f");
    zavtest::fs::create_hard_link(Path("logger.bin"), Path("run002.cpt"));
    EXPECT_EQ(zav::FinishCapture(Path("logger.bin").c_str(), Path("run").c_str(), keep, nullptr),
              zav::kFinishOk);
    EXPECT_TRUE(exists(Path("run002.cpt"))) << "a second name of the recording stays";
}

#ifndef _WIN32
// A full disk (here a file-size limit) cuts the report short: none is left
// rather than a blank or broken one.
TEST_F(FinishTest, ReportThatCannotBeWrittenWholeIsNotLeft) {
    Write(Path("run.html"), "earlier report");
    raw_ = Path("run.tmp");
    Write(raw_, "");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (rlim_t limit : {rlim_t{0}, rlim_t{40}}) {
        rlimit tight = saved;
        tight.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const int result = zav::FinishCapture(raw_.c_str(), Path("run").c_str(), {}, &outcome_);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(result, zav::kFinishReportFailed) << limit;
        EXPECT_FALSE(exists(Path("run.html")))
            << "limit " << limit << ": " << Read(Path("run.html")).size() << " bytes left";
        Write(raw_, "");
    }
    std::signal(SIGXFSZ, oldHandler);
}

#endif

TEST_F(FinishTest, PdfFollowsTheReportAndNeverTakesTheRecordingsPlace) {
    // A recording that lies under the PDF's name: refused before anything is made.
    const std::string recording = "AB\fCD\f";
    Write(Path("run.pdf"), recording);
    zav::FinishOptions pdf;
    pdf.keepRaw = true;
    pdf.pdf = true;
    EXPECT_EQ(zav::FinishCapture(Path("run.pdf").c_str(), Path("run").c_str(), pdf, &outcome_),
              zav::kFinishRawIsOutput);
    EXPECT_EQ(Read(Path("run.pdf")), recording);
    EXPECT_FALSE(exists(Path("run001.cpt")));

    // Pages without bitmaps: the report is made, the PDF is not, and nothing
    // is left under its name or its work name.
    raw_ = Path("run.tmp");
    Write(raw_, "ONE\r\n\fTWO\r\n\f");
    pdf.keepRaw = false;
    pdf.onCaptureFile = RecordPath;
    pdf.context = &handed_;
    zavtest::fs::remove(Path("run.pdf"));
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), pdf, &outcome_),
              zav::kFinishPdfFailed);
    EXPECT_TRUE(outcome_.reportWritten);
    EXPECT_FALSE(outcome_.pdfWritten);
    EXPECT_EQ(outcome_.failedFile, Path("run001.bmp"));
    EXPECT_FALSE(exists(Path("run.pdf")));
    EXPECT_FALSE(exists(Path("run.pdf.part")));

    // Rendered, the same pages make a PDF beside the report.
    Write(raw_, "ONE\r\n\fTWO\r\n\f");
    pdf.onCaptureFile = nullptr;
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), pdf, &outcome_),
              zav::kFinishOk);
    EXPECT_TRUE(outcome_.pdfWritten);
    EXPECT_EQ(outcome_.pdfPath, Path("run.pdf"));
    EXPECT_EQ(Read(Path("run.pdf")).rfind("%PDF-1.4", 0), 0u);

    // An empty recording has no page: no PDF, and that is no failure.
    Write(raw_, "");
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("empty").c_str(), pdf, &outcome_),
              zav::kFinishOk);
    EXPECT_EQ(outcome_.pdfResult, zav::kPdfNoPages);
    EXPECT_FALSE(exists(Path("empty.pdf")));
}

TEST_F(FinishTest, TextFileHoldsEveryPagesWordsAndNeverTakesTheRecordingsPlace) {
    zavtool::PrintoutOptions options;
    options.seed = 99;
    std::string printed;
    const std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(options, &printed);
    const std::string recording(bytes.begin(), bytes.end());
    raw_ = Path("run.tmp");
    Write(raw_, recording);
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), {}, &outcome_), zav::kFinishOk);
    EXPECT_TRUE(outcome_.textWritten);
    EXPECT_EQ(outcome_.textPath, Path("run.txt"));
    EXPECT_EQ(Read(Path("run.txt")), printed);

    // One file for all pages: one page of text.
    zav::FinishOptions single;
    single.singleFile = true;
    Write(raw_, recording);
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("one").c_str(), single, &outcome_),
              zav::kFinishOk);
    std::string joined = printed;
    std::erase(joined, zav::kTextPageBreak);
    EXPECT_EQ(Read(Path("one.txt")), joined);

    // A recording under the text file's name is refused before anything is made.
    single.keepRaw = true;
    Write(Path("two.txt"), recording);
    EXPECT_EQ(zav::FinishCapture(Path("two.txt").c_str(), Path("two").c_str(), single, &outcome_),
              zav::kFinishRawIsOutput);
    EXPECT_EQ(Read(Path("two.txt")), recording);
    EXPECT_FALSE(exists(Path("two.cpt")));

    // A text file that cannot take its name fails alone and leaves no work file.
    zavtest::fs::create_directory(Path("three.txt"));
    Write(raw_, recording);
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("three").c_str(), {}, &outcome_),
              zav::kFinishTextFailed);
    EXPECT_TRUE(outcome_.reportWritten);
    EXPECT_EQ(outcome_.failedFile, Path("three.txt"));
    EXPECT_FALSE(exists(Path("three.txt.part")));

    // Asked for none, none is made.
    zav::FinishOptions none;
    none.text = false;
    Write(raw_, recording);
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("four").c_str(), none, &outcome_),
              zav::kFinishOk);
    EXPECT_FALSE(exists(Path("four.txt")));
}

} // namespace
