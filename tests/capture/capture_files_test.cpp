#include "base/capture_names.h"
#include "capture/capture_files.h"

#include "capture_test_support.h"

#include <algorithm>
#include <random>

namespace {

using zavtest::RecordPath;

class SplitTest : public zavtest::CaptureFolderTest {
  protected:
    // Splits `recording` into pages of base "run" (in an emptied folder unless
    // `fresh` is false); returns the page files' contents, checking that they
    // were handed on in order and that no file beyond them exists.
    std::vector<std::string> Split(const std::string& recording, int expected = zav::kFinishOk,
                                   bool fresh = true) {
        if (fresh) {
            zavtest::fs::remove_all(dir_);
            zavtest::fs::create_directories(dir_);
        }
        const std::string raw = Path("run.tmp");
        Write(raw, recording);
        std::vector<std::string> done;
        unsigned kept = 99;
        // The earlier pages go as the new ones take their place, as when a
        // capture is replaced.
        zav::OutputBatch files;
        for (const auto& earlier : zav::CaptureNames(Path("run")).Files()) {
            if (earlier.kind == zav::CaptureFileKind::kOutput)
                files.Replace(earlier.path);
        }
        EXPECT_EQ(
            zav::SplitIntoPages(raw.c_str(), Path("run").c_str(), files, RecordPath, &done, &kept),
            expected);
        EXPECT_EQ(kept, done.size());
        EXPECT_EQ(files.Commit(), expected == zav::kFinishOk);
        std::vector<std::string> pages;
        for (unsigned p = 1; p <= kept; ++p) {
            char name[32];
            std::snprintf(name, sizeof name, "run%03u.cpt", p);
            EXPECT_EQ(done[p - 1], Path(name));
            pages.push_back(Read(Path(name)));
        }
        char next[32];
        std::snprintf(next, sizeof next, "run%03u.cpt", kept + 1);
        if (expected == zav::kFinishOk && !zavtest::fs::is_directory(Path(next))) {
            EXPECT_FALSE(zavtest::fs::exists(Path(next))) << next;
        }
        EXPECT_EQ(Read(raw), recording) << "the recording is never changed";
        return pages;
    }
};

using Pages = std::vector<std::string>;

TEST_F(SplitTest, CutsAfterFormFeeds) {
    EXPECT_EQ(Split("AB\fCD\f"), (Pages{"AB\f", "CD\f"}));
    EXPECT_EQ(Split("AB\fCD"), (Pages{"AB\f", "CD"}));
    // One byte after the last form feed is dropped; two are a page.
    EXPECT_EQ(Split("AB\fX"), (Pages{"AB\f"}));
    EXPECT_EQ(Split("AB\fXY"), (Pages{"AB\f", "XY"}));
    EXPECT_EQ(Split("\f\f"), (Pages{"\f"}));
    EXPECT_EQ(Split("\f\f\f"), (Pages{"\f", "\f"}));
    EXPECT_EQ(Split("X"), (Pages{"X"}));
}

TEST_F(SplitTest, EscapeCommandsAreCopiedWithoutLooking) {
    // Bit image whose count and data hold form feeds and ESC.
    const std::string image = std::string("A\x1bK\x05\x00", 5) + "\x0c\x1b\x0c\x1bK" + "B\f";
    EXPECT_EQ(Split(image + "C"), (Pages{image}));
    const std::string countIsFormFeed = std::string("\x1bK\x0c\x00", 4) + std::string(12, '\f');
    EXPECT_EQ(Split(countIsFormFeed + "\fZZ"), (Pages{countIsFormFeed + "\f", "ZZ"}));
    // ESC followed by a form feed: the command byte, no page end.
    EXPECT_EQ(Split("A\x1b\x0c"
                    "B\fCD"),
              (Pages{"A\x1b\x0c"
                     "B\f",
                     "CD"}));
    // Parameters of other commands are ordinary bytes: 0x0C there ends a page.
    EXPECT_EQ(Split("\x1b\x33\x0c"
                    "AB"),
              (Pages{"\x1b\x33\x0c", "AB"}));
}

TEST_F(SplitTest, RecordingEndingInsideACommandKeepsWhatArrived) {
    for (const std::string& tail : {std::string("\x1b"), std::string("\x1bK"),
                                    std::string("\x1bK\x05"), std::string("\x1bK\x05\x00", 4),
                                    std::string("\x1bK\x05\x00"
                                                "ab",
                                                6)}) {
        SCOPED_TRACE(tail.size());
        EXPECT_EQ(Split("P1\fA" + tail), (Pages{"P1\f", "A" + tail}));
    }
}

TEST_F(SplitTest, EmptyRecordingKeepsNoPageAndRemovesAStaleOne) {
    Write(Path("run001.cpt"), "old");
    EXPECT_EQ(Split("", zav::kFinishOk, false), Pages{});
    Write(Path("run002.cpt"), "old");
    EXPECT_EQ(Split("AB\f", zav::kFinishOk, false), (Pages{"AB\f"}));
    Write(Path("run002.cpt"), "old");
    EXPECT_EQ(Split("AB\fX", zav::kFinishOk, false), (Pages{"AB\f"}));
}

TEST_F(SplitTest, LongRecordingsSurviveBlockBoundaries) {
    // Pages and bit images that straddle the reader's and writer's blocks.
    std::string page(200000, 'x');
    const std::string image = std::string("\x1bK\xff\xff", 4) + std::string(65535, '\f');
    const std::string first = page + image + "\f";
    EXPECT_EQ(Split(first + page + "\f" + "Q"), (Pages{first, page + "\f"}));
    // The dropped byte right after a block boundary of the reader.
    const std::string exact(64 * 1024 - 1, 'y');
    EXPECT_EQ(Split(exact + "\f" + "Q"), (Pages{exact + "\f"}));
    EXPECT_EQ(Split(exact + "\f" + "QR"), (Pages{exact + "\f", "QR"}));
}

TEST_F(SplitTest, PagesGiveBackTheRecording) {
    std::mt19937 random(20261207);
    const char interesting[] = {'\f', '\x1b', 'K', '\0', '\x01', 'a'};
    for (int round = 0; round < 300; ++round) {
        std::string recording;
        const int length = std::uniform_int_distribution<int>(0, 200)(random);
        for (int i = 0; i < length; ++i) {
            const int pick = std::uniform_int_distribution<int>(0, 9)(random);
            recording += pick < 6 ? interesting[pick] : static_cast<char>(random());
        }
        SCOPED_TRACE(round);
        const Pages pages = Split(recording);
        std::string joined;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            ASSERT_FALSE(pages[i].empty());
            if (i + 1 < pages.size()) {
                ASSERT_EQ(pages[i].back(), '\f');
            }
            joined += pages[i];
        }
        if (joined != recording) {
            // Only the single byte after a final form feed may be missing.
            ASSERT_EQ(joined + recording.back(), recording);
            ASSERT_FALSE(joined.empty());
            ASSERT_EQ(joined.back(), '\f');
        }
    }
}

// A page that cannot be made or written stops the split; nothing of it
// takes a name, and earlier pages stay as they were.
TEST_F(SplitTest, PageThatCannotBeMadeStopsTheSplit) {
    const std::string raw = Path("run.tmp");
    Write(raw, "AB\fCD\fEF");
    std::vector<std::string> done;
    unsigned kept = 99;
    std::string failed;
    zav::SystemError error;
    {
        zav::OutputBatch pages;
        EXPECT_EQ(zav::SplitIntoPages(raw.c_str(), Path("gone/run").c_str(), pages, RecordPath,
                                      &done, &kept, &failed, &error),
                  zav::kFinishCannotCreatePage);
        EXPECT_EQ(failed, Path("gone/run001.cpt"));
        EXPECT_FALSE(error.text.empty());
        EXPECT_EQ(kept, 0u);
    }
#ifndef _WIN32
    Write(Path("run002.cpt"), "earlier");
    const std::string page(100000, 'x');
    Write(raw, "AB\f" + page + "\f");
    {
        zavtest::FileSizeLimit limit(50000);
        zav::OutputBatch pages;
        pages.Replace(Path("run002.cpt"));
        EXPECT_EQ(zav::SplitIntoPages(raw.c_str(), Path("run").c_str(), pages, RecordPath, &done,
                                      &kept, &failed, &error),
                  zav::kFinishCannotWritePage);
    }
    EXPECT_EQ(kept, 1u);
    EXPECT_EQ(failed, Path("run002.cpt"));
    EXPECT_EQ(error.text, "File too large");
    EXPECT_EQ(Files(), (std::vector<std::string>{"run.tmp", "run002.cpt"}));
    EXPECT_EQ(Read(Path("run002.cpt")), "earlier");
#endif
}

TEST(BasePath, FromFolderAndName) {
    char out[zav::kPathBufferSize];
    const std::string sep(1, zav::kPreferredSeparator);
    ASSERT_EQ(zav::MakeBasePath("data", "run", out, sizeof out), zav::kFinishOk);
    EXPECT_STREQ(out, ("data" + sep + "run").c_str());
    ASSERT_EQ(zav::MakeBasePath(("data" + sep).c_str(), "run", out, sizeof out), zav::kFinishOk);
    EXPECT_STREQ(out, ("data" + sep + "run").c_str());
    ASSERT_EQ(zav::MakeBasePath("", "run", out, sizeof out), zav::kFinishOk);
    EXPECT_STREQ(out, "run");
    EXPECT_EQ(zav::MakeBasePath("data", "", out, sizeof out), zav::kFinishNoName);

    const std::string folder(1010, 'f');
    EXPECT_EQ(zav::MakeBasePath(folder.c_str(), "abcd", out, sizeof out), zav::kFinishOk);
    EXPECT_EQ(std::string(out).size(), zav::kMaxBasePathLength);
    EXPECT_EQ(zav::MakeBasePath(folder.c_str(), "abcde", out, sizeof out), zav::kFinishPathTooLong);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(zav::MakeBasePath("data", "run", out, 8), zav::kFinishPathTooLong);
}

using CaptureNamesTest = zavtest::CaptureFolderTest;

// Every file of a capture, and nothing of another one, counts as that
// capture's; the kept recording is named first, then the report.
TEST_F(CaptureNamesTest, FindsTheFilesOfOneCapture) {
    zav::CaptureNames names;
    ASSERT_EQ(zav::CaptureNames::Make(dir_.string(), "run", names), zav::kFinishOk);
    EXPECT_EQ(names.PageCapture(7), Path("run007.cpt"));
    EXPECT_EQ(names.PageCapture(1234), Path("run1234.cpt"));
    EXPECT_EQ(zav::CaptureNames::BitmapOf(names.PageCapture(2)), Path("run002.bmp"));
    EXPECT_EQ(zav::CaptureNames::BitmapOf(names.PageCapture(2), 3), Path("run002-3.bmp"));
    EXPECT_EQ(names.ReportName(), "run.html");
    EXPECT_FALSE(names.AnyExists());
    for (const char* other :
         {"run2.cpt", "run2.html", "runner.html", "run01.bmp", "run-20261207-1.cpt", "xrun.cpt",
          "run001.cpt.bak", "run-1.bmp", "run-02.bmp", "run001.html", "run.html.part", "run.claim"})
        Write(Path(other), "x");
    EXPECT_FALSE(names.AnyExists());
    for (const char* own :
         {"run.pdf", "run1000.bmp", "run001.cpt", "run.tmp", "run.txt", "run.record.json",
          "run001-2.bmp", "run-2.bmp", "run.html", "run.html.0123abcd.part"})
        Write(Path(own), "x");
    EXPECT_EQ(names.Existing(),
              (std::vector<std::string>{
                  Path("run.tmp"), Path("run.html"), Path("run-2.bmp"),
                  Path("run.html.0123abcd.part"), Path("run.pdf"), Path("run.record.json"),
                  Path("run.txt"), Path("run001-2.bmp"), Path("run001.cpt"), Path("run1000.bmp")}));
    EXPECT_TRUE(names.RecordingExists());
    // A sheet's name that is another capture's bitmap is not this one's to
    // replace, but it is in this one's way.
    Write(Path("run-2.cpt"), "x");
    const auto files = names.Files();
    EXPECT_EQ(files.size(), 9u);
    EXPECT_TRUE(std::none_of(files.begin(), files.end(),
                             [&](const auto& f) { return f.path == Path("run-2.bmp"); }));
    EXPECT_EQ(files.front().kind, zav::CaptureFileKind::kOutput);
    EXPECT_EQ(names.Existing().size(), 10u);

    // A bare name lives in the current folder.
    const auto here = zavtest::fs::current_path();
    zavtest::fs::current_path(dir_);
    zav::CaptureNames bare("run");
    EXPECT_EQ(bare.Existing().size(), 10u);
    EXPECT_EQ(bare.Existing().front(), "run.tmp");
    zavtest::fs::current_path(here);

    // A name is a name: never a way into another folder.
    EXPECT_EQ(zav::CaptureNames::Make(dir_.string(), "../run", names), zav::kBasePathNotAName);
    EXPECT_EQ(zav::CaptureNames::Make("", "a/b", names), zav::kBasePathNotAName);
}

// A raw recording is recognised under every name that making a capture
// file writes: the file itself and its bitmap.
TEST_F(CaptureNamesTest, RecordingUnderAnOutputName) {
    const zav::CaptureNames names(Path("run"));
    Write(Path("rec.bin"), "x");
    EXPECT_FALSE(zav::CaptureNames::WouldBeWritten(Path("rec.bin").c_str(), names.PageCapture(1)));
    for (const char* made : {"run001.cpt", "run001.bmp"}) {
        zavtest::fs::create_hard_link(Path("rec.bin"), Path(made));
        EXPECT_TRUE(
            zav::CaptureNames::WouldBeWritten(Path("rec.bin").c_str(), names.PageCapture(1)))
            << made;
        zavtest::fs::remove(Path(made));
    }
    EXPECT_FALSE(zav::CaptureNames::WouldBeWritten(Path("rec.bin").c_str(), names.PageCapture(1)));
    Write(Path("run.pdf"), "x");
    EXPECT_TRUE(names.IsReportFile(Path("run.pdf").c_str()));
    Write(Path("run.txt"), "x");
    EXPECT_TRUE(names.IsReportFile(Path("run.txt").c_str()));
    EXPECT_FALSE(names.IsReportFile(Path("rec.bin").c_str()));
}

} // namespace
