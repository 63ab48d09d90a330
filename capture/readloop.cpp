#include "capture/readloop.h"

namespace zav {
namespace {

constexpr int kChunkOk = -1;    // bytes were read and written
constexpr int kChunkEmpty = -2; // the read gave nothing

// Reads what is waiting (at most one queue) and appends it to the recording.
int ReadBurstChunk(CableLine& port, std::size_t waiting, std::FILE* recording,
                   const std::function<void(long long)>& progress, ReadLoopState& state) {
    unsigned char buffer[kInputQueueSize];
    std::size_t want = waiting < sizeof buffer ? waiting : sizeof buffer;
    long got = port.Read(buffer, want);
    if (got < 0)
        return kReadLoopReadFailed;
    if (got == 0)
        return kChunkEmpty;
    std::size_t size = static_cast<std::size_t>(got);
    std::size_t written = std::fwrite(buffer, 1, size, recording);
    if (state.received)
        state.received->Update(buffer, written);
    if (written != size || std::fflush(recording) != 0) {
        state.bytes += static_cast<long long>(written);
        return kReadLoopWriteFailed;
    }
    state.bytes += got;
    if (progress)
        progress(state.bytes);
    return kChunkOk;
}

} // namespace

ReadLoopResult RunReadLoop(CableLine& port, std::FILE* recording, const std::atomic<int>& stop,
                           const std::function<void(long long bytes)>& progress,
                           ReadLoopState& state) {
    for (;;) {
        if (stop.load() != 0)
            return kReadLoopStopped;
        std::size_t waiting = port.BytesWaiting();
        if (waiting == 0) {
            port.SleepMs(kQuietPollMs);
            continue;
        }
        int idleMs = 0;
        do {
            if (waiting > 0) {
                int result = ReadBurstChunk(port, waiting, recording, progress, state);
                if (result == kChunkOk)
                    idleMs = 0; // only data keeps a burst going
                else if (result != kChunkEmpty)
                    return static_cast<ReadLoopResult>(result);
            }
            port.SleepMs(kBurstPollMs);
            idleMs += kBurstPollMs;
            waiting = port.BytesWaiting();
        } while (idleMs < kBurstIdleEndMs && stop.load() < kStopNow);
        if (stop.load() >= kStopNow)
            return kReadLoopStopped;
        port.SleepMs(kQuietPollMs);
    }
}

} // namespace zav
