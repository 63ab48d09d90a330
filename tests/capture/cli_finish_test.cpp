// "zavprint finish": pages and report are named on the way, the recording is
// never touched, and any failure makes the exit status non-zero.
#include "cli/cli.h"

#include <algorithm>

#include "capture_test_support.h"

namespace {

class CliFinish : public zavtest::CaptureFolderTest {
  protected:
    int Run(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = zav::cli::RunFinish(static_cast<int>(argv.size()), argv.data());
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return status;
    }
    bool Said(const std::string& text, const std::string& what) const {
        return text.find(what) != std::string::npos;
    }
    std::string Pages(int count) const {
        std::string raw;
        for (int page = 1; page <= count; ++page)
            raw += "PAGE " + std::to_string(page) + "\r\n\f";
        return raw;
    }
    std::string out_, err_;
};

TEST_F(CliFinish, KeepsTheRecordingAndNamesWhatItWrote) {
    const std::string raw = Path("logger.bin");
    const std::string recording = "ONE\r\n\fTWO\r\n\f";
    Write(raw, recording);
    EXPECT_EQ(Run({raw, "--folder", dir_.string(), "--name", "run"}), 0) << err_;
    EXPECT_EQ(Read(raw), recording);
    EXPECT_TRUE(Said(out_, Path("run001.cpt") + " -> " + Path("run001.bmp"))) << out_;
    EXPECT_TRUE(Said(out_, Path("run002.cpt") + " -> " + Path("run002.bmp"))) << out_;
    EXPECT_TRUE(Said(out_, "report: " + Path("run.html"))) << out_;

    EXPECT_EQ(Run({raw, "--folder", dir_.string(), "--name", "one", "--single-file"}), 0) << err_;
    EXPECT_EQ(Read(raw), recording);
    EXPECT_EQ(Read(Path("one.cpt")), recording);
    EXPECT_TRUE(Said(out_, "report: " + Path("one.html"))) << out_;
    EXPECT_FALSE(zavtest::fs::exists(Path("one.pdf")));

    EXPECT_EQ(Run({raw, "--folder", dir_.string(), "--name", "run", "--pdf", "--paper", "A4",
                   "--overwrite"}),
              0)
        << err_;
    EXPECT_TRUE(Said(out_, "pdf: " + Path("run.pdf"))) << out_;
    EXPECT_EQ(Read(Path("run.pdf")).rfind("%PDF-", 0), 0u);
    EXPECT_EQ(Run({raw, "--name", "run", "--pdf", "--paper", "a3"}), 2);
}

TEST_F(CliFinish, FailuresAreNamedAndTheRecordingStays) {
    const std::string raw = Path("logger.bin");
    Write(raw, "ONE\r\n\fTWO\r\n\fTHREE");
    zavtest::fs::create_directory(Path("run002.cpt"));
    EXPECT_EQ(Run({raw, "--folder", dir_.string(), "--name", "run"}), 1);
    EXPECT_TRUE(Said(err_, Path("run002.cpt") + " is in the way")) << err_;
    EXPECT_EQ(Run({raw, "--folder", dir_.string(), "--name", "run", "--overwrite"}), 1);
    EXPECT_EQ(Read(raw), "ONE\r\n\fTWO\r\n\fTHREE");
    EXPECT_EQ(out_, "");
    EXPECT_TRUE(Said(err_, "could not take their names: " + Path("run002.cpt"))) << err_;
    EXPECT_TRUE(Said(err_, "nothing was changed; the raw recording " + raw + " is kept")) << err_;
    // The trail says what failed; no record claims anything.
    EXPECT_EQ(Files(), (std::vector<std::string>{"audit.log", "logger.bin", "run002.cpt"}));

    EXPECT_EQ(Run({Path("missing.bin"), "--name", "run"}), 1);
    EXPECT_EQ(Run({raw, "--folder", dir_.string()}), 2);
    EXPECT_EQ(Run({raw, "--name", "run", "--bogus"}), 2);
}

// The recording in the current folder under the name of the page after the
// last: finishing it must not clear it away as a stale page.
TEST_F(CliFinish, RecordingNamedLikeThePageAfterTheLastStays) {
    const auto here = zavtest::fs::current_path();
    zavtest::fs::current_path(dir_);
    Write("X002.cpt", "HELLO\r\n\f");
    const int status = Run({"X002.cpt", "--name", "X"});
    zavtest::fs::current_path(here);
    EXPECT_EQ(status, 0) << err_;
    EXPECT_EQ(Read(Path("X002.cpt")), "HELLO\r\n\f");
    EXPECT_EQ(Read(Path("X001.cpt")), "HELLO\r\n\f");
}

// Another printout under a name in use: refused, naming the file in the
// way; with --overwrite exactly the new capture's files are left, and
// captures whose names merely start alike stay.
TEST_F(CliFinish, ReplacingIsAskedForAndLeavesOnlyTheNewCapture) {
    Write(Path("five.raw"), Pages(5));
    Write(Path("two.raw"), Pages(2));
    Write(Path("run2.html"), "other");
    Write(Path("run-20261207-1.cpt"), "other");
    const std::string folder = dir_.string();
    ASSERT_EQ(Run({Path("five.raw"), "--folder", folder, "--name", "run", "--pdf"}), 0) << err_;
    const auto before = Files();
    EXPECT_EQ(Run({Path("two.raw"), "--folder", folder, "--name", "run"}), 1);
    EXPECT_TRUE(Said(err_, Path("run.html") + " is in the way")) << err_;
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(Read(Path("run005.cpt")), "PAGE 5\r\n\f");

    EXPECT_EQ(Run({Path("two.raw"), "--folder", folder, "--name", "run", "--overwrite"}), 0)
        << err_;
    EXPECT_EQ(Files(), (std::vector<std::string>{
                           "audit.log", "five.raw", "run-20261207-1.cpt", "run.html",
                           "run.record.json", "run.sha256", "run.txt", "run001.bmp", "run001.cpt",
                           "run002.bmp", "run002.cpt", "run2.html", "two.raw"}));
    EXPECT_EQ(Read(Path("run002.cpt")), "PAGE 2\r\n\f");
    EXPECT_EQ(Read(Path("run.txt")), "PAGE 1\n\fPAGE 2\n");
}

// A page that draws nothing: no earlier picture under its name, not in the
// report nor in the PDF, and it is said. An empty sheet (a printout that
// begins with a form feed) is a note in the report, not a broken picture,
// and keeps its place and its capture file.
TEST_F(CliFinish, PagesWithoutAPicture) {
    const std::string folder = dir_.string();
    Write(Path("old.raw"), Pages(3));
    ASSERT_EQ(Run({Path("old.raw"), "--folder", folder, "--name", "run"}), 0) << err_;
    Write(Path("new.raw"), "\fNEW PAGE TWO\r\n\f\x01\x02");
    EXPECT_EQ(Run({Path("new.raw"), "--folder", folder, "--name", "run", "--overwrite", "--pdf"}),
              1);
    EXPECT_TRUE(Said(err_, Path("run003.cpt") + ": not drawn")) << err_;
    EXPECT_FALSE(zavtest::fs::exists(Path("run003.bmp")));
    EXPECT_EQ(Read(Path("run003.cpt")), "\x01\x02") << "the page's capture file is kept";
    EXPECT_EQ(Read(Path("run001.cpt")), "\f");
    const std::string report = Read(Path("run.html"));
    EXPECT_EQ(report.find("run003.bmp"), std::string::npos) << report;
    EXPECT_EQ(report.find("run001.bmp"), std::string::npos) << report;
    EXPECT_NE(report.find("page 1: empty sheet"), std::string::npos) << report;
    EXPECT_NE(report.find("src=\"run002.bmp\""), std::string::npos) << report;
    EXPECT_NE(report.find("page 3: not drawn"), std::string::npos) << report;
    EXPECT_EQ(Read(Path("run.txt")), "\fNEW PAGE TWO\n\f") << "no words of the page not drawn";
    // The empty sheet is a blank page of the PDF; the page not drawn is left out.
    EXPECT_NE(Read(Path("run.pdf")).find("/Count 2"), std::string::npos);
}

// An empty recording changes nothing and says so; a missing folder is made;
// a name is a name, never a path.
TEST_F(CliFinish, EmptyRecordingMissingFolderAndPathsInNames) {
    const std::string folder = dir_.string();
    Write(Path("one.raw"), Pages(1));
    Write(Path("empty.raw"), "");
    ASSERT_EQ(Run({Path("one.raw"), "--folder", folder, "--name", "run", "--single-file"}), 0);
    const auto before = Files();
    const std::string report = Read(Path("run.html"));
    EXPECT_EQ(Run({Path("empty.raw"), "--folder", folder, "--name", "run", "--single-file",
                   "--overwrite"}),
              1);
    EXPECT_TRUE(Said(err_, Path("empty.raw") + " is empty: nothing was changed")) << err_;
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(Read(Path("run.html")), report);

    EXPECT_EQ(Run({Path("one.raw"), "--folder", Path("new/out"), "--name", "lab09"}), 0) << err_;
    EXPECT_EQ(
        Files(Path("new/out")),
        (std::vector<std::string>{"audit.log", "lab09.html", "lab09.record.json", "lab09.sha256",
                                  "lab09.txt", "lab09001.bmp", "lab09001.cpt"}));
    EXPECT_EQ(err_, "");

    for (const char* name : {"../x", "a/b"}) {
        EXPECT_EQ(Run({Path("one.raw"), "--folder", Path("new/out"), "--name", name}), 2);
        EXPECT_EQ(err_, "zavprint finish: --name is a file name without '/'; give the folder "
                        "with --folder\n");
    }
    EXPECT_EQ(Files(Path("new")), std::vector<std::string>{"out"});
}

} // namespace
