#include "base/output_file.h"
#include "capture/capture_files.h"
#include "printout.h"
#include "render/renderer.h"
#include "report/pdf_printout.h"
#include "report/printout_text.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
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
        options.replace = true;
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

    // An empty recording changes nothing; it goes when it was the session's.
    ASSERT_EQ(Finish("", true), zav::kFinishEmpty);
    EXPECT_FALSE(exists(raw_));
    EXPECT_EQ(Read(Path("run.cpt")), "XY");
    EXPECT_TRUE(handed_.empty());
    EXPECT_EQ(Read(Path("run.html")), Report(kSingle));

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

    ASSERT_EQ(Finish("", false, true), zav::kFinishEmpty);
    EXPECT_TRUE(exists(raw_));
    EXPECT_TRUE(exists(Path("run001.cpt")));

    // Replaced by a one-page capture: exactly its files are left.
    ASSERT_EQ(Finish("ONE\f", false), zav::kFinishOk);
    EXPECT_FALSE(exists(Path("run002.cpt")));
    EXPECT_EQ(Read(Path("run001.cpt")), "ONE\f");

    // No recording: nothing is made, not even a report.
    zavtest::fs::remove(raw_);
    zavtest::fs::remove(Path("run.html"));
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), {}, nullptr),
              zav::kFinishCannotOpenRaw);
    EXPECT_FALSE(exists(Path("run.html")));
}

// A page that cannot take its name (a folder is there): nothing is put in
// place, and the recording stays.
TEST_F(FinishTest, PageThatCannotBeCreatedKeepsTheRecording) {
    zavtest::fs::create_directory(Path("run002.cpt"));
    EXPECT_EQ(Finish("AB\fCD\fEF", false), zav::kFinishCannotPutInPlace);
    EXPECT_EQ(Read(raw_), "AB\fCD\fEF");
    EXPECT_EQ(outcome_.failedFile, Path("run002.cpt"));
    EXPECT_FALSE(exists(Path("run001.cpt")));
    EXPECT_FALSE(exists(Path("run.html")));
    EXPECT_TRUE(zavtest::fs::is_directory(Path("run002.cpt")));
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
    keep.replace = true;
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
    keep.replace = true;
    EXPECT_EQ(zav::FinishCapture(Path("logger.bin").c_str(), Path("run").c_str(), keep, nullptr),
              zav::kFinishOk);
    EXPECT_TRUE(exists(Path("run002.cpt"))) << "a second name of the recording stays";
}

#ifndef _WIN32
// A full disk (here a file-size limit) while a new capture is made: nothing
// of the earlier capture of that name changes, nothing cut is left, and the
// recording stays.
TEST_F(FinishTest, EarlierCaptureStaysWholeWhenTheNewOneCannotBeWritten) {
    raw_ = Path("run.tmp");
    Write(raw_, "ONE\r\n\fTWO\r\n\f");
    zav::FinishOptions options;
    options.pdf = true;
    options.replace = true;
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), options, &outcome_),
              zav::kFinishOk);
    const auto snapshot = [&] {
        std::vector<std::pair<std::string, std::string>> files;
        for (const std::string& file : Files())
            files.emplace_back(file, Read(Path(file)));
        return files;
    };
    const std::string recording = "NEW\r\n\f" + std::string(3000, 'x') + "\r\n\fEND\r\n";
    Write(raw_, recording);
    const auto before = snapshot();
    for (rlim_t bytes : {rlim_t{0}, rlim_t{40}, rlim_t{1000}, rlim_t{20000}}) {
        int result = zav::kFinishOk;
        {
            zavtest::FileSizeLimit limit(bytes);
            result = zav::FinishCapture(raw_.c_str(), Path("run").c_str(), options, &outcome_);
        }
        EXPECT_NE(result, zav::kFinishOk) << bytes;
        EXPECT_EQ(outcome_.error.text, "File too large") << bytes;
        EXPECT_TRUE(snapshot() == before) << "limit " << bytes << ": " << outcome_.failedFile;
    }
    // Only the text file passes the limit: every page's words, three bytes
    // for each boxed character.
    options.pdf = false;
    std::string boxed;
    for (int page = 0; page < 60; ++page)
        boxed += std::string(100, '\x80') + "\r\n\f";
    Write(raw_, boxed);
    const auto boxedBefore = snapshot();
    int result = zav::kFinishOk;
    {
        zavtest::FileSizeLimit limit(10000);
        result = zav::FinishCapture(raw_.c_str(), Path("run").c_str(), options, &outcome_);
    }
    EXPECT_EQ(result, zav::kFinishTextFailed);
    EXPECT_EQ(outcome_.failedFile, Path("run.txt"));
    EXPECT_TRUE(snapshot() == boxedBefore);
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

    // Pages not rendered here have no bitmaps: the report is made, the PDF
    // is not, and nothing is left under its name or a work name.
    raw_ = Path("run.tmp");
    Write(raw_, "ONE\r\n\fTWO\r\n\f");
    pdf.keepRaw = false;
    pdf.replace = true;
    pdf.onCaptureFile = RecordPath;
    pdf.context = &handed_;
    zavtest::fs::remove(Path("run.pdf"));
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), pdf, &outcome_),
              zav::kFinishOk);
    EXPECT_TRUE(outcome_.reportWritten);
    EXPECT_FALSE(outcome_.pdfWritten);
    EXPECT_EQ(outcome_.pdfResult, zav::kPdfNoPages);
    EXPECT_EQ(Files(), (std::vector<std::string>{"run.html", "run001.cpt", "run002.cpt"}));

    // Rendered, the same pages make a PDF beside the report.
    Write(raw_, "ONE\r\n\fTWO\r\n\f");
    pdf.onCaptureFile = nullptr;
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), pdf, &outcome_),
              zav::kFinishOk);
    EXPECT_TRUE(outcome_.pdfWritten);
    EXPECT_EQ(outcome_.pdfPath, Path("run.pdf"));
    EXPECT_EQ(Read(Path("run.pdf")).rfind("%PDF-1.4", 0), 0u);

    // An empty recording has no page: nothing at all is made.
    Write(raw_, "");
    EXPECT_EQ(zav::FinishCapture(raw_.c_str(), Path("empty").c_str(), pdf, &outcome_),
              zav::kFinishEmpty);
    EXPECT_FALSE(exists(Path("empty.pdf")));
    EXPECT_FALSE(exists(Path("empty.html")));
}

// Sees every output file and fails with an exception on the bytes of those
// it is told of from `offset` on, as running out of memory would.
class Throwing : public zav::OutputObserver {
  public:
    Throwing(std::string ending, std::uint64_t offset)
        : ending_(std::move(ending)), from_(offset) {}
    std::unique_ptr<zav::OutputTap> Opened(const std::string& target) override {
        if (!target.ends_with(ending_))
            return nullptr;
        struct Tap : zav::OutputTap {
            explicit Tap(std::uint64_t from) : from(from) {}
            void Written(std::uint64_t offset, const void*, std::size_t) override {
                if (offset >= from)
                    throw std::bad_alloc();
            }
            void Closed(bool) override {}
            std::uint64_t from;
        };
        return std::make_unique<Tap>(from_);
    }

  private:
    std::string ending_;
    std::uint64_t from_;
};

// No exception leaves the PDF, also when its pages are made on the thread
// that adds them (no worker could start), nor the finishing step: each is a
// failure that says so, and nothing is left behind.
TEST_F(FinishTest, FailuresByExceptionAreResults) {
    Write(Path("page.cpt"), "PAGE\r\n");
    ASSERT_EQ(zav::RenderCaptureFile(Path("page.cpt").c_str()), zav::kRenderOk);
    Throwing pdfWrites(".pdf", 1); // the pages, not the header
    zav::SetOutputObserver(&pdfWrites);
    zav::PrintoutPdfOptions inlineOnly;
    inlineOnly.workers = zav::PrintoutPdfOptions::kNoWorkers;
    zav::PrintoutPdf pdf(Path("run.pdf"), inlineOnly);
    EXPECT_NO_THROW(pdf.Add(Path("page.bmp")));
    EXPECT_EQ(pdf.Finish(), zav::kPdfCannotWrite);

    Throwing bitmapWrites(".bmp", 0);
    zav::SetOutputObserver(&bitmapWrites);
    raw_ = Path("run.tmp");
    Write(raw_, "ONE\r\n\f");
    int result = zav::kFinishOk;
    EXPECT_NO_THROW(result = zav::FinishCapture(raw_.c_str(), Path("run").c_str(), {}, &outcome_));
    zav::SetOutputObserver(nullptr);
    EXPECT_EQ(result, zav::kFinishNoMemory);
    EXPECT_FALSE(outcome_.error.text.empty());
    EXPECT_EQ(Files(), (std::vector<std::string>{"page.bmp", "page.cpt", "run.tmp"}));
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

    // A page that is not drawn has no words; its page break stays.
    Write(raw_, "NEW PAGE ONE\r\n\f\x01\x02");
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("three").c_str(), {}, &outcome_),
              zav::kFinishOk);
    ASSERT_EQ(outcome_.NotDrawn(), 1u);
    EXPECT_EQ(Read(Path("three.txt")), "NEW PAGE ONE\n\f");

    // Asked for none, none is made.
    zav::FinishOptions none;
    none.text = false;
    Write(raw_, recording);
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("four").c_str(), none, &outcome_),
              zav::kFinishOk);
    EXPECT_FALSE(exists(Path("four.txt")));
    // Nor is an earlier capture's text left beside the new one that replaces it.
    none.replace = true;
    Write(raw_, "NEW\r\n");
    ASSERT_EQ(zav::FinishCapture(raw_.c_str(), Path("run").c_str(), none, &outcome_),
              zav::kFinishOk);
    EXPECT_FALSE(exists(Path("run.txt")));
    EXPECT_FALSE(exists(Path("run002.cpt")));
}

} // namespace
