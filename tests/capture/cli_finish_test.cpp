// "zavprint finish": pages and report are named on the way, the recording is
// never touched, and any failure makes the exit status non-zero.
#include "cli/cli.h"

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

    EXPECT_EQ(Run({raw, "--folder", dir_.string(), "--name", "run", "--pdf", "--paper", "A4"}), 0)
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
    EXPECT_EQ(Read(raw), "ONE\r\n\fTWO\r\n\fTHREE");
    EXPECT_TRUE(Said(out_, Path("run001.cpt"))) << out_;
    EXPECT_TRUE(Said(err_, "cannot be created: " + Path("run002.cpt"))) << err_;
    EXPECT_TRUE(Said(err_, raw + " is unchanged")) << err_;

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

} // namespace
