#include "capture/readloop.h"
#include "capture/session.h"
#include "capture/session_control.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
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
        std::function<void(std::size_t received)> onRead = {}; // after each read
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
        if (s_.onRead)
            s_.onRead(pos_);
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
    std::unique_ptr<zav::CableLine> OpenPort(const std::string& port) override {
        openedPort = port;
        if (!portOpens)
            return nullptr;
        return std::make_unique<FakeLine>(script_, stop_);
    }
    void SetStatus(const char* text) override { statuses.emplace_back(text); }
    bool FinishAsSingleFile(bool requested) override {
        if (whileFinishing)
            whileFinishing();
        return requested;
    }

    bool portOpens = true;
    std::string openedPort;
    std::vector<std::string> statuses;
    std::function<void()> whileFinishing; // once the pages are being made

  private:
    FakeLine::Script script_;
    std::atomic<int>& stop_;
};

class SessionTest : public CaptureFolderTest {
  protected:
    void SetUp() override {
        CaptureFolderTest::SetUp();
        request_.folder = dir_.string();
        request_.name = "run";
        request_.port = "Com5";
    }

    int Run(FakeEnv& env) {
        stop_.store(0);
        int result = zav::RunCaptureSession(request_, env, stop_, &outcome_);
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

    zav::CaptureRequest request_;
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
    // The byte count while recording, then what was written.
    ASSERT_GE(env.statuses.size(), 2u);
    EXPECT_EQ(env.statuses[env.statuses.size() - 2],
              "Reading (" + std::to_string(stream.size()) + ")");
    EXPECT_EQ(env.statuses.back(), "3 pages: run.html");
}

// The status says which page could not be drawn (an empty sheet is drawn).
TEST_F(SessionTest, PageNotDrawnIsInTheStatus) {
    FakeEnv env({"PAGE ONE\r\n\f\x01\x02\f\x03\x04", 100}, stop_);
    EXPECT_EQ(Run(env), zav::kSessionStopped);
    EXPECT_EQ(env.statuses.back(), "3 pages: run.html; not drawn: page 3");
    ASSERT_EQ(outcome_.finish.pages.size(), 3u);
    EXPECT_TRUE(outcome_.finish.pages[1].empty);
}

TEST_F(SessionTest, SingleFileModeKeepsTheRecordingWhole) {
    const std::string stream = Example(2);
    request_.singleFile = true;
    FakeEnv env({stream, 4096}, stop_);
    EXPECT_EQ(Run(env), zav::kSessionStopped);
    EXPECT_TRUE(SameBytes(Read(Path("run.cpt")), stream));
    EXPECT_TRUE(zavtest::fs::exists(Path("run.bmp")));
    EXPECT_FALSE(zavtest::fs::exists(Path("run001.cpt")));
    EXPECT_EQ(ReportImages(), 1);
}

// Start and Stop with no data changes nothing, also where replacing was
// allowed: an earlier capture and a kept recording stay, and it is said.
TEST_F(SessionTest, NoDataChangesNothingInBothModes) {
    Write(Path("run.cpt"), "old capture");
    Write(Path("run.tmp"), "kept recording");
    request_.replace = true;
    for (bool single : {true, false}) {
        request_.singleFile = single;
        FakeEnv env({"", 100}, stop_);
        EXPECT_EQ(Run(env), zav::kSessionStopped);
        EXPECT_EQ(env.statuses, std::vector<std::string>{"No data received: nothing written"});
        EXPECT_EQ(Files(), (std::vector<std::string>{"run.cpt", "run.tmp"}));
        EXPECT_EQ(Read(Path("run.tmp")), "kept recording");
    }
}

// A session that cannot record ends before any byte and leaves the files of
// an earlier capture, and a recording kept from one, exactly as they were.
TEST_F(SessionTest, SessionThatCannotRecordChangesNoFile) {
    const std::vector<std::pair<std::string, std::string>> earlier = {
        {"run001.cpt", "old page"},
        {"run001.bmp", "old bitmap"},
        {"run.cpt", "old single"},
        {"run.html", "old report"},
        {"run.tmp", "kept recording"}};
    for (const auto& [name, text] : earlier)
        Write(Path(name), text);
    auto unchanged = [&](const char* what) {
        for (const auto& [name, text] : earlier)
            EXPECT_EQ(Read(Path(name)), text) << what << ": " << name;
        EXPECT_FALSE(zavtest::fs::exists(Path("run002.cpt"))) << what;
    };
    for (bool single : {false, true}) {
        request_.singleFile = single;
        FakeEnv env({Example(1), 100}, stop_);
        env.portOpens = false;
        EXPECT_EQ(Run(env), zav::kSessionCannotOpenPort);
        EXPECT_EQ(env.statuses, std::vector<std::string>{"Cannot open com port"});
        EXPECT_FALSE(outcome_.finished);
        unchanged(single ? "port, single file" : "port, pages");
    }

    // The port opens, but the recording cannot be made (a folder in its way).
    zavtest::fs::rename(Path("run.tmp"), Path("kept.tmp"));
    zavtest::fs::create_directory(Path("run.tmp"));
    for (bool single : {false, true}) {
        request_.singleFile = single;
        FakeEnv env({Example(1), 100}, stop_);
        EXPECT_EQ(Run(env), zav::kSessionCannotOpenFile);
        EXPECT_EQ(env.openedPort, "Com5");
        EXPECT_EQ(env.statuses,
                  std::vector<std::string>{"Cannot open capture file: " + Path("run.tmp")});
        EXPECT_FALSE(outcome_.finished);
    }
    zavtest::fs::remove(Path("run.tmp"));
    zavtest::fs::rename(Path("kept.tmp"), Path("run.tmp"));
    unchanged("recording");

    // No file name at all: nothing can be made, no port is opened.
    request_.name.clear();
    FakeEnv unnamed({Example(1), 100}, stop_);
    EXPECT_EQ(Run(unnamed), zav::kSessionCannotOpenFile);
    EXPECT_TRUE(unnamed.openedPort.empty());
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
    request_.singleFile = true;
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
    // Its bitmap is larger than the limit too: no capture is made of it, and
    // the recording stays.
    EXPECT_TRUE(SameBytes(Read(Path("run.tmp")), stream.substr(0, limit)));
    EXPECT_EQ(outcome_.finishResult, zav::kFinishCannotWriteBitmap);
    EXPECT_FALSE(zavtest::fs::exists(Path("run.cpt")));
    ASSERT_FALSE(env.statuses.empty());
    EXPECT_EQ(env.statuses.back(), "Cannot write capture file: recording ended, 10000 bytes kept");
}

// A session thread that runs its body only when the test says so.
class ManualThread : public zav::SessionThread {
  public:
    bool Launch(std::function<void()> body) override {
        if (!launches)
            return false;
        body_ = std::move(body);
        ran_ = false;
        return true;
    }
    bool Wait(int ms, bool pump) override {
        waits.emplace_back(ms, pump);
        return ran_;
    }
    bool Kill() override {
        killed = true;
        return killable;
    }
    void Release() override { body_ = nullptr; }
    void RunBody() {
        body_();
        ran_ = true;
    }

    std::vector<std::pair<int, bool>> waits;
    bool killed = false;
    bool launches = true;
    bool killable = true;

  private:
    std::function<void()> body_;
    bool ran_ = false;
};

class FakeClock : public zav::SessionClock {
  public:
    void Sleep(int ms) override { slept += ms; }
    int slept = 0;
};

// Stop pressed in the middle of a printout: the recording goes on to the end
// of the burst, the status says so with the byte count, and then tells what
// was written. Stop pressed again while the pages are made changes neither
// the phase nor the status. No second session starts meanwhile.
TEST_F(SessionTest, ControllerStopWaitsForTheBurstAndTellsWhatItWrote) {
    ManualThread thread;
    FakeClock clock;
    zav::SessionController control(thread, clock, stop_);
    const std::string stream = Example(3);
    FakeLine::Script script{stream, 500};
    std::vector<zav::SessionPhase> stops;
    script.onRead = [&](std::size_t received) {
        if (received == 1000)
            stops.push_back(control.Stop());
    };
    auto owned = std::make_unique<FakeEnv>(script, stop_);
    FakeEnv& env = *owned;
    env.whileFinishing = [&] {
        stops.push_back(control.Stop());
        stops.push_back(control.Phase());
    };
    ASSERT_EQ(control.Start(request_, std::move(owned)), zav::SessionController::kStarted);
    EXPECT_EQ(control.Phase(), zav::SessionPhase::Recording);
    EXPECT_EQ(control.Start(request_, std::make_unique<FakeEnv>(script, stop_)),
              zav::SessionController::kBusy);

    thread.RunBody();
    EXPECT_EQ(control.Phase(), zav::SessionPhase::Ended);
    EXPECT_EQ(stops, (std::vector<zav::SessionPhase>{zav::SessionPhase::Recording,
                                                     zav::SessionPhase::Finishing,
                                                     zav::SessionPhase::Finishing}));
    const zav::SessionOutcome outcome = control.Outcome();
    EXPECT_EQ(outcome.bytes, static_cast<long long>(stream.size()))
        << "the burst is recorded whole";
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages(&pages), stream));
    const std::string size = std::to_string(stream.size());
    ASSERT_GE(env.statuses.size(), 4u);
    EXPECT_EQ(env.statuses.front(), "Reading (500)");
    EXPECT_EQ(env.statuses[2], "Stopping at the end of the printout (1000 bytes)");
    EXPECT_EQ(env.statuses[env.statuses.size() - 3],
              "Stopping at the end of the printout (" + size + " bytes)");
    EXPECT_EQ(env.statuses[env.statuses.size() - 2], "Making pages (" + size + " bytes)...");
    EXPECT_EQ(env.statuses.back(), "3 pages: run.html");

    // Stop after the end changes nothing; the next Start is free to go.
    EXPECT_EQ(control.Stop(), zav::SessionPhase::Ended);
    EXPECT_EQ(env.statuses.back(), "3 pages: run.html");
    request_.name = "next";
    EXPECT_EQ(control.Start(request_, std::make_unique<FakeEnv>(FakeLine::Script{}, stop_)),
              zav::SessionController::kStarted);
}

// Close while the session will not end: it is told to stop, then to stop at
// once, the waits keep the windows served, and only then is it killed.
TEST_F(SessionTest, ControllerCloseStopsThenStopsAtOnceThenKills) {
    ManualThread thread;
    FakeClock clock;
    zav::SessionController control(thread, clock, stop_);
    EXPECT_FALSE(control.Close().hadSession) << "nothing to close";
    ASSERT_EQ(control.Start(request_, std::make_unique<FakeEnv>(FakeLine::Script{}, stop_)),
              zav::SessionController::kStarted);
    EXPECT_EQ(stop_.load(), 0);
    const zav::SessionController::CloseResult closed = control.Close();
    EXPECT_TRUE(closed.hadSession);
    EXPECT_FALSE(closed.ended);
    EXPECT_TRUE(thread.killed);
    EXPECT_EQ(stop_.load(), zav::kStopNow);
    EXPECT_EQ(thread.waits, (std::vector<std::pair<int, bool>>{{1000, true}, {60000, true}}));
    EXPECT_EQ(control.Start(request_, std::make_unique<FakeEnv>(FakeLine::Script{}, stop_)),
              zav::SessionController::kBusy)
        << "a killed session may have left its files half made";
}

// A thread that cannot be killed stays the controller's: no session starts
// until it has ended.
TEST_F(SessionTest, ControllerCloseKeepsAThreadThatCannotBeKilled) {
    ManualThread thread;
    thread.killable = false;
    FakeClock clock;
    zav::SessionController control(thread, clock, stop_);
    ASSERT_EQ(control.Start(request_, std::make_unique<FakeEnv>(FakeLine::Script{}, stop_)),
              zav::SessionController::kStarted);
    EXPECT_FALSE(control.Close().ended);
    EXPECT_TRUE(thread.killed);
    EXPECT_EQ(control.Start(request_, std::make_unique<FakeEnv>(FakeLine::Script{}, stop_)),
              zav::SessionController::kBusy);
    thread.RunBody();
    EXPECT_EQ(control.Start(request_, std::make_unique<FakeEnv>(FakeLine::Script{}, stop_)),
              zav::SessionController::kStarted);
    thread.RunBody(); // the controller would wait for it for ever
}

// Whatever fails, the session ends with the reason in the status and Start
// comes back: no thread for it, or an exception while the pages are made
// (the recording is then kept whole).
TEST_F(SessionTest, ControllerFailureEndsTheSessionWithItsReason) {
    request_.replace = true; // each session records over the one kept before
    ManualThread thread;
    FakeClock clock;
    zav::SessionController control(thread, clock, stop_);
    thread.launches = false;
    auto owned = std::make_unique<FakeEnv>(FakeLine::Script{}, stop_);
    FakeEnv& unstarted = *owned;
    EXPECT_EQ(control.Start(request_, std::move(owned)), zav::SessionController::kNoThread);
    EXPECT_EQ(control.Phase(), zav::SessionPhase::Ended);
    EXPECT_EQ(control.Outcome().result, zav::kSessionFailed);
    EXPECT_EQ(unstarted.statuses,
              std::vector<std::string>{"Capture failed: no thread could be started"});
    thread.launches = true;

    const std::string stream = Example(2);
    const std::vector<std::pair<std::function<void()>, std::string>> failures = {
        {[] { throw std::bad_alloc(); }, "Capture failed: not enough memory"},
        {[] { throw std::runtime_error("any"); }, "Capture failed: unexpected error"}};
    for (const auto& [fail, text] : failures) {
        owned = std::make_unique<FakeEnv>(FakeLine::Script{stream, 700}, stop_);
        FakeEnv& env = *owned;
        env.whileFinishing = fail;
        bool ended = false;
        ASSERT_EQ(control.Start(request_, std::move(owned),
                                [&](const zav::SessionOutcome&) { ended = true; }),
                  zav::SessionController::kStarted);
        thread.RunBody();
        EXPECT_TRUE(ended);
        EXPECT_EQ(control.Phase(), zav::SessionPhase::Ended);
        EXPECT_EQ(control.Outcome().result, zav::kSessionFailed);
        EXPECT_EQ(env.statuses.back(), text);
        EXPECT_TRUE(SameBytes(Read(Path("run.tmp")), stream));
    }
    EXPECT_EQ(control.Start(request_, std::make_unique<FakeEnv>(FakeLine::Script{}, stop_)),
              zav::SessionController::kStarted);
}

// A line that paces itself in real time and never falls silent for long.
class PacedLine : public zav::CableLine {
  public:
    bool Write(const void*, std::size_t) override { return true; }
    std::size_t BytesWaiting() override { return sent_ < 2000 ? 100 : 0; }
    long Read(void* buffer, std::size_t size) override {
        const std::size_t n = std::min<std::size_t>(size, 100);
        std::memset(buffer, 'A', n);
        sent_ += n;
        return static_cast<long>(n);
    }
    void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  private:
    std::size_t sent_ = 0;
};

class PacedEnv : public zav::CaptureSessionEnv {
  public:
    std::unique_ptr<zav::CableLine> OpenPort(const std::string&) override {
        if (!portOpens)
            return nullptr;
        return std::make_unique<PacedLine>();
    }
    void SetStatus(const char* text) override {
        std::lock_guard<std::mutex> guard(lock);
        statuses.emplace_back(text);
    }
    bool portOpens = true;
    std::mutex lock;
    std::vector<std::string> statuses;
};

// On a real thread: Close ends as soon as the session does, and tells that it
// ended by the stop; a session that failed by itself is no session to close;
// a controller is not gone before its session.
TEST_F(SessionTest, ControllerOnARealThread) {
    request_.replace = true; // each session replaces the capture before
    zav::StdSessionThread thread;
    zav::SteadySessionClock clock;
    zav::SessionController control(thread, clock, stop_);
    ASSERT_EQ(control.Start(request_, std::make_unique<PacedEnv>()),
              zav::SessionController::kStarted);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto begin = std::chrono::steady_clock::now();
    const zav::SessionController::CloseResult closed = control.Close();
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_TRUE(closed.hadSession && closed.ended && !closed.stoppedBefore);
    EXPECT_EQ(closed.result, zav::kSessionStopped);
    EXPECT_LT(took, std::chrono::milliseconds(900)) << "Close waited past the session's end";
    EXPECT_EQ(Read(Path("run001.cpt")), std::string(2000, 'A'));

    auto failing = std::make_unique<PacedEnv>();
    failing->portOpens = false;
    PacedEnv& env = *failing;
    ASSERT_EQ(control.Start(request_, std::move(failing)), zav::SessionController::kStarted);
    EXPECT_TRUE(control.WaitEnded(5000));
    EXPECT_EQ(control.Stop(), zav::SessionPhase::Ended);
    EXPECT_FALSE(control.Close().hadSession);
    EXPECT_EQ(env.statuses, std::vector<std::string>{"Cannot open com port"});
    EXPECT_EQ(Read(Path("run001.cpt")), std::string(2000, 'A')) << "the earlier capture stays";

    // The session's thread uses its controller: a controller that goes while
    // a session records first stops it at once and waits until it has ended.
    zavtest::fs::remove(Path("run.html"));
    {
        zav::SessionController gone(thread, clock, stop_);
        ASSERT_EQ(gone.Start(request_, std::make_unique<PacedEnv>()),
                  zav::SessionController::kStarted);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(zavtest::fs::exists(Path("run.html"))) << "the session had not ended";
    stop_.store(zav::kStopNow); // ends a thread that was left behind
}

} // namespace
