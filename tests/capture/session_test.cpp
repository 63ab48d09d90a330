#include "capture/session.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "capture_test_support.h"
#include "printout.h"

namespace {

using zavtest::SameBytes;

using zavtest::CaptureFolderTest;

std::string Example(int pages) {
    zavtool::PrintoutOptions options;
    options.pages = pages;
    std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(options);
    return std::string(bytes.begin(), bytes.end());
}

// A port that delivers its bytes in reads of at most `chunk` bytes on a
// virtual clock, then stays quiet; the user presses Stop `stopAfterMs` after
// the last byte. A read past `failAt` bytes fails.
class FakeLine : public zav::CableLine {
  public:
    struct Script {
        std::string data;
        std::size_t chunk = 1000;
        long stopAfterMs = 300;
        long long failAt = -1;
    };
    FakeLine(const Script& script, std::atomic<int>& stop) : s_(script), stop_(stop) {}

    bool Write(const void*, std::size_t) override { return true; }
    std::size_t BytesWaiting() override {
        std::size_t left = s_.data.size() - pos_;
        if (s_.failAt >= 0 && pos_ >= static_cast<std::size_t>(s_.failAt))
            return 1;
        return left < s_.chunk ? left : s_.chunk;
    }
    long Read(void* buffer, std::size_t size) override {
        if (s_.failAt >= 0 && pos_ >= static_cast<std::size_t>(s_.failAt))
            return -1;
        std::size_t end = s_.data.size();
        if (s_.failAt >= 0)
            end = std::min(end, static_cast<std::size_t>(s_.failAt));
        std::size_t n = std::min(size, end - pos_);
        std::memcpy(buffer, s_.data.data() + pos_, n);
        pos_ += n;
        return static_cast<long>(n);
    }
    void SleepMs(int ms) override {
        if (pos_ < s_.data.size())
            return;
        quietMs_ += ms;
        if (quietMs_ >= s_.stopAfterMs)
            stop_.store(1);
        ASSERT_LT(quietMs_, 100000) << "the session did not stop";
    }

  private:
    Script s_;
    std::atomic<int>& stop_;
    std::size_t pos_ = 0;
    long quietMs_ = 0;
};

class FakeEnv : public zav::CaptureSessionEnv {
  public:
    FakeEnv(const FakeLine::Script& script, std::atomic<int>& stop)
        : script_(script), stop_(stop) {}
    std::unique_ptr<zav::CableLine> OpenPort(const char* port1) override {
        openedPort = port1;
        if (!portOpens)
            return nullptr;
        return std::make_unique<FakeLine>(script_, stop_);
    }
    void SetStatus(const char* text) override { statuses.emplace_back(text); }

    bool portOpens = true;
    std::string openedPort;
    std::vector<std::string> statuses;

  private:
    FakeLine::Script script_;
    std::atomic<int>& stop_;
};

class SessionTest : public CaptureFolderTest {
  protected:
    void SetUp() override {
        CaptureFolderTest::SetUp();
        store_ = quorOpen(("session:" + dir_.string()).c_str());
        quorSetString(store_, "CaptureFolder", dir_.string().c_str());
        quorSetString(store_, "CaptureFilename", "run");
        quorSetString(store_, "Port1", "Com5");
        quorSetNumeric(store_, "SingleFile", 0);
    }

    int Run(FakeEnv& env) {
        stop_.store(0);
        int result = zav::RunCaptureSession(store_, env, stop_, &outcome_);
        EXPECT_EQ(stop_.load(), 1) << "the session leaves the stop flag set";
        return result;
    }

    // The text of every page file, in order, and how many there are.
    std::string Pages(int* count) {
        std::string all;
        *count = 0;
        for (int page = 1;; ++page) {
            char name[32];
            std::snprintf(name, sizeof name, "run%03d.cpt", page);
            if (!zavtest::fs::exists(Path(name)))
                break;
            all += Read(Path(name));
            ++*count;
        }
        return all;
    }

    int ReportImages() {
        std::string html = Read(Path("run.html"));
        int n = 0;
        for (std::size_t at = html.find("<img"); at != std::string::npos;
             at = html.find("<img", at + 1))
            ++n;
        return n;
    }

    HQUOR store_ = nullptr;
    std::atomic<int> stop_{0};
    zav::SessionOutcome outcome_;
};

TEST_F(SessionTest, PageModeRecordsEveryByteRendersEachPageAndReports) {
    const std::string stream = Example(3);
    FakeEnv env({stream, 777}, stop_);
    EXPECT_EQ(Run(env), zav::kSessionStopped);
    EXPECT_EQ(env.openedPort, "Com5");
    EXPECT_EQ(outcome_.bytes, static_cast<long long>(stream.size()));
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages(&pages), stream));
    EXPECT_EQ(pages, 3);
    for (const char* bmp : {"run001.bmp", "run002.bmp", "run003.bmp"})
        EXPECT_TRUE(zavtest::fs::exists(Path(bmp))) << bmp;
    EXPECT_EQ(ReportImages(), 3);
    EXPECT_FALSE(zavtest::fs::exists(Path("run.tmp")));
    ASSERT_FALSE(env.statuses.empty());
    EXPECT_EQ(env.statuses.back(), "Reading (" + std::to_string(stream.size()) + ")");
}

TEST_F(SessionTest, SingleFileModeKeepsTheRecordingWhole) {
    const std::string stream = Example(2);
    quorSetNumeric(store_, "SingleFile", 1);
    FakeEnv env({stream, 4096}, stop_);
    EXPECT_EQ(Run(env), zav::kSessionStopped);
    EXPECT_TRUE(SameBytes(Read(Path("run.cpt")), stream));
    EXPECT_TRUE(zavtest::fs::exists(Path("run.bmp")));
    EXPECT_FALSE(zavtest::fs::exists(Path("run001.cpt")));
    EXPECT_EQ(ReportImages(), 1);
}

TEST_F(SessionTest, NoDataGivesAnEmptyReportInBothModes) {
    Write(Path("run.cpt"), "old capture");
    quorSetNumeric(store_, "SingleFile", 1);
    FakeEnv single({"", 100}, stop_);
    EXPECT_EQ(Run(single), zav::kSessionStopped);
    EXPECT_FALSE(zavtest::fs::exists(Path("run.cpt"))) << "the old capture file goes";
    EXPECT_TRUE(zavtest::fs::exists(Path("run.html")));
    EXPECT_EQ(ReportImages(), 0);
    EXPECT_TRUE(single.statuses.empty());

    zavtest::fs::remove(Path("run.html"));
    quorSetNumeric(store_, "SingleFile", 0);
    FakeEnv pages({"", 100}, stop_);
    EXPECT_EQ(Run(pages), zav::kSessionStopped);
    EXPECT_FALSE(zavtest::fs::exists(Path("run001.cpt")));
    EXPECT_TRUE(zavtest::fs::exists(Path("run.html")));
    EXPECT_EQ(ReportImages(), 0);
    EXPECT_FALSE(zavtest::fs::exists(Path("run.tmp")));
}

TEST_F(SessionTest, TemporaryFileThatCannotBeMade) {
    // A folder stands where the temporary file would go; an old page file and
    // an old single capture file lie beside it.
    zavtest::fs::create_directory(Path("run.tmp"));
    Write(Path("run001.cpt"), "old page");
    Write(Path("run.cpt"), "old single");

    FakeEnv pages({Example(1), 100}, stop_);
    EXPECT_EQ(Run(pages), zav::kSessionCannotOpenFile);
    EXPECT_TRUE(pages.openedPort.empty()) << "no port is opened without a file";
    EXPECT_EQ(pages.statuses, std::vector<std::string>{"Cannot open capture file"});
    EXPECT_EQ(Read(Path("run001.cpt")), "old page") << "page mode makes nothing";
    EXPECT_FALSE(zavtest::fs::exists(Path("run.html")));

    quorSetNumeric(store_, "SingleFile", 1);
    FakeEnv single({Example(1), 100}, stop_);
    EXPECT_EQ(Run(single), zav::kSessionCannotOpenFile);
    EXPECT_FALSE(zavtest::fs::exists(Path("run.cpt")));
    EXPECT_EQ(ReportImages(), 0);

    // No file name at all: nothing can be made.
    quorSetString(store_, "CaptureFilename", "");
    FakeEnv unnamed({Example(1), 100}, stop_);
    EXPECT_EQ(Run(unnamed), zav::kSessionCannotOpenFile);
}

TEST_F(SessionTest, PortThatCannotBeOpenedGivesTheEmptyReport) {
    Write(Path("run.cpt"), "old single");
    for (int single : {0, 1}) {
        quorSetNumeric(store_, "SingleFile", single);
        zavtest::fs::remove(Path("run.html"));
        FakeEnv env({Example(1), 100}, stop_);
        env.portOpens = false;
        EXPECT_EQ(Run(env), zav::kSessionCannotOpenPort);
        EXPECT_EQ(env.statuses, std::vector<std::string>{"Cannot open com port"});
        EXPECT_EQ(ReportImages(), 0) << "single " << single;
        EXPECT_FALSE(zavtest::fs::exists(Path("run.tmp")));
        EXPECT_FALSE(zavtest::fs::exists(Path("run001.cpt")));
    }
    EXPECT_FALSE(zavtest::fs::exists(Path("run.cpt")));
}

TEST_F(SessionTest, ReadFailureFinishesWhatWasRead) {
    const std::string stream = Example(3);
    const long long failAt = static_cast<long long>(stream.size() * 5 / 6);
    FakeLine::Script script{stream, 1000, 300, failAt};
    FakeEnv env(script, stop_);
    EXPECT_EQ(Run(env), zav::kSessionReadFailed);
    EXPECT_EQ(env.statuses.back(), "Cannot read data from queue");
    EXPECT_EQ(outcome_.bytes, failAt);
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages(&pages), stream.substr(0, static_cast<std::size_t>(failAt))));
    EXPECT_EQ(pages, 3) << "the part of page 3 that came is its last page";
    EXPECT_EQ(ReportImages(), 3);
}

// The disk refuses more (here a file-size limit): the recording ends at once,
// what was stored becomes the capture, and the status says how much.
TEST_F(SessionTest, WriteFailureEndsTheRecordingAndKeepsWhatWasStored) {
    const std::string stream = Example(3);
    const rlim_t limit = 10000;
    ASSERT_LT(limit, stream.size());
    quorSetNumeric(store_, "SingleFile", 1);
    FakeEnv env({stream, 3000}, stop_);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const int result = Run(env);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, zav::kSessionWriteFailed);
    EXPECT_EQ(outcome_.bytes, static_cast<long long>(limit));
    EXPECT_TRUE(SameBytes(Read(Path("run.cpt")), stream.substr(0, limit)));
    ASSERT_FALSE(env.statuses.empty());
    EXPECT_EQ(env.statuses.back(), "Cannot write capture file: recording ended, 10000 bytes kept");
}

} // namespace
