#include "capture/readloop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// A port on a virtual clock: each chunk becomes readable at its arrival time,
// SleepMs advances the clock. Optionally the stop flag is raised at a time and
// a read fails after a number of reads.
class ScriptedPort : public zav::CableLine {
  public:
    struct Chunk {
        long atMs;
        std::string bytes;
    };

    ScriptedPort(std::vector<Chunk> chunks, std::atomic<int>& stop, long stopAtMs)
        : chunks_(std::move(chunks)), stop_(stop), stopAtMs_(stopAtMs) {}

    bool Write(const void*, std::size_t) override { return true; }
    std::size_t BytesWaiting() override {
        std::size_t n = 0;
        for (std::size_t i = next_; i < chunks_.size() && chunks_[i].atMs <= nowMs_; ++i)
            n += chunks_[i].bytes.size() - (i == next_ ? offset_ : 0);
        return n;
    }
    long Read(void* buffer, std::size_t size) override {
        if (failAfterReads_ >= 0 && reads_ >= failAfterReads_)
            return -1;
        ++reads_;
        maxRead_ = std::max(maxRead_, size);
        std::size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < size && next_ < chunks_.size() && chunks_[next_].atMs <= nowMs_) {
            const std::string& b = chunks_[next_].bytes;
            std::size_t take = std::min(size - done, b.size() - offset_);
            std::copy_n(b.data() + offset_, take, out + done);
            done += take;
            offset_ += take;
            if (offset_ == b.size()) {
                ++next_;
                offset_ = 0;
            }
        }
        return static_cast<long>(done);
    }
    void SleepMs(int ms) override {
        nowMs_ += ms;
        if (stopAtMs_ >= 0 && nowMs_ >= stopAtMs_)
            stop_.store(stopValue_);
        ASSERT_LT(nowMs_, 1000000) << "read loop did not end";
    }

    long nowMs_ = 0;
    long failAfterReads_ = -1;
    int stopValue_ = 1;
    std::size_t maxRead_ = 0;

  private:
    std::vector<Chunk> chunks_;
    std::atomic<int>& stop_;
    long stopAtMs_;
    std::size_t next_ = 0, offset_ = 0;
    long reads_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    int c;
    while ((c = std::fgetc(f)) != EOF)
        s.push_back(static_cast<char>(c));
    return s;
}

std::string Pattern(std::size_t n, int seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed) & 0xFF);
    return s;
}

TEST(ReadLoop, RecordsEveryByteInOrderAcrossBurstsAndLargeQueues) {
    std::vector<ScriptedPort::Chunk> chunks;
    std::string expected;
    // A burst larger than one queue, a pause, then a trickle every 20 ms.
    chunks.push_back({5, Pattern(10000, 1)});
    for (int i = 0; i < 30; ++i)
        chunks.push_back({400 + 20L * i, Pattern(97, i)});
    chunks.push_back({5000, Pattern(4096, 7)});
    for (const auto& c : chunks)
        expected += c.bytes;

    std::atomic<int> stop{0};
    ScriptedPort port(chunks, stop, 6000);
    File out(std::tmpfile());
    ASSERT_TRUE(out);
    zav::ReadLoopState state;
    long long lastProgress = 0;
    int calls = 0;
    int result = zav::RunReadLoop(
        port, out.get(), stop,
        [&](long long n) {
            EXPECT_GT(n, lastProgress);
            lastProgress = n;
            ++calls;
        },
        state);
    EXPECT_EQ(result, zav::kReadLoopStopped);
    EXPECT_EQ(state.bytes, static_cast<long long>(expected.size()));
    EXPECT_EQ(lastProgress, state.bytes);
    EXPECT_GE(calls, 30);
    EXPECT_LE(port.maxRead_, zav::kInputQueueSize);
    EXPECT_EQ(Contents(out.get()), expected);
}

TEST(ReadLoop, StopFlagTakesEffectBetweenBurstsOnly) {
    // Data every 10 ms from 0 to 990 ms; stop raised at 300 ms, mid-stream.
    std::vector<ScriptedPort::Chunk> chunks;
    for (int i = 0; i < 100; ++i)
        chunks.push_back({10L * i, "x"});
    std::atomic<int> stop{0};
    ScriptedPort port(chunks, stop, 300);
    File out(std::tmpfile());
    zav::ReadLoopState state;
    EXPECT_EQ(zav::RunReadLoop(port, out.get(), stop, {}, state), zav::kReadLoopStopped);
    // The burst runs on until the line is quiet: every byte is recorded.
    EXPECT_EQ(state.bytes, 100);
    // Quiet for 50 ms after the last byte, then the 100 ms pause: done by ~1150 ms.
    EXPECT_LE(port.nowMs_, 1200);
}

TEST(ReadLoop, StopNowEndsABurstThatWouldNotEnd) {
    // The instrument prints on for a long time; the program is closing.
    std::vector<ScriptedPort::Chunk> chunks;
    std::string sent;
    for (int i = 0; i < 10000; ++i) {
        chunks.push_back({10L * i, Pattern(3, i)});
    }
    std::atomic<int> stop{0};
    ScriptedPort port(chunks, stop, 300);
    port.stopValue_ = zav::kStopNow;
    File out(std::tmpfile());
    zav::ReadLoopState state;
    EXPECT_EQ(zav::RunReadLoop(port, out.get(), stop, {}, state), zav::kReadLoopStopped);
    EXPECT_LE(port.nowMs_, 300 + zav::kBurstPollMs);
    // What arrived before the stop is all in the recording.
    for (std::size_t i = 0; i * 10 < 300; ++i)
        sent += chunks[i].bytes;
    EXPECT_EQ(Contents(out.get()), sent);
}

TEST(ReadLoop, QuietLineStopsWithinOnePoll) {
    std::atomic<int> stop{0};
    ScriptedPort port({}, stop, 1234);
    File out(std::tmpfile());
    zav::ReadLoopState state;
    EXPECT_EQ(zav::RunReadLoop(port, out.get(), stop, {}, state), zav::kReadLoopStopped);
    EXPECT_EQ(state.bytes, 0);
    EXPECT_LE(port.nowMs_, 1234 + zav::kQuietPollMs);
}

TEST(ReadLoop, ReadFailureKeepsWhatWasRecorded) {
    std::vector<ScriptedPort::Chunk> chunks = {{0, "first"}, {200, "second"}, {400, "lost"}};
    std::atomic<int> stop{0};
    ScriptedPort port(chunks, stop, -1);
    port.failAfterReads_ = 2;
    File out(std::tmpfile());
    zav::ReadLoopState state;
    EXPECT_EQ(zav::RunReadLoop(port, out.get(), stop, {}, state), zav::kReadLoopReadFailed);
    EXPECT_EQ(Contents(out.get()), "firstsecond");
    EXPECT_EQ(state.bytes, 11);
}

TEST(ReadLoop, WriteFailureEndsTheRecording) {
    File full(std::fopen("/dev/full", "wb"));
    if (!full)
        GTEST_SKIP() << "/dev/full is not available";
    std::atomic<int> stop{0};
    ScriptedPort port({{0, Pattern(5000, 3)}}, stop, -1);
    zav::ReadLoopState state;
    EXPECT_EQ(zav::RunReadLoop(port, full.get(), stop, {}, state), zav::kReadLoopWriteFailed);
}

// A driver that keeps claiming a byte but gives none must not hold a burst
// open for ever: Stop still ends the loop.
TEST(ReadLoop, EmptyReadsDoNotKeepABurstGoing) {
    struct Claiming : zav::CableLine {
        std::atomic<int>* stop = nullptr;
        long nowMs = 0;
        bool Write(const void*, std::size_t) override { return true; }
        std::size_t BytesWaiting() override { return 1; }
        long Read(void*, std::size_t) override { return 0; }
        void SleepMs(int ms) override {
            nowMs += ms;
            if (nowMs >= 1000)
                stop->store(1);
            ASSERT_LT(nowMs, 100000) << "the loop ignores the stop flag";
        }
    } port;
    std::atomic<int> stop{0};
    port.stop = &stop;
    File out(std::tmpfile());
    zav::ReadLoopState state;
    EXPECT_EQ(zav::RunReadLoop(port, out.get(), stop, {}, state), zav::kReadLoopStopped);
    EXPECT_LE(port.nowMs, 1000 + zav::kBurstIdleEndMs + zav::kQuietPollMs);
}

} // namespace
