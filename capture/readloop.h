// The capture read loop: copies every byte that arrives on the cable's port to
// the raw recording until the stop flag is set or a read fails.
//
// The port is polled, not waited on: every 100 ms while it is quiet, every
// 10 ms while data flows. A burst ends after 50 ms without data. Each read takes
// everything waiting, at most one input queue (4096 bytes), and appends it to
// the recording at once. The stop flag is looked at between bursts, so it takes
// effect at most about 150 ms after the line falls quiet.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <functional>

#include "capture/handshake.h"
#include "record/crypto.h"

namespace zav {

inline constexpr std::size_t kInputQueueSize = 4096;
inline constexpr int kQuietPollMs = 100;
inline constexpr int kBurstPollMs = 10;
inline constexpr int kBurstIdleEndMs = 50;

// Stop flag values: 0 record on; 1 stop once the line falls quiet (between
// bursts); kStopNow stop at the next poll, also while data flows (the program
// is closing and cannot wait for the end of the printout).
inline constexpr int kStopNow = 2;

// How a read loop ended (the capture thread's exit codes 0 and 3, and 4 of our own).
enum ReadLoopResult : int {
    kReadLoopStopped = 0,     // the stop flag ended it
    kReadLoopReadFailed = 3,  // a read from the port failed
    kReadLoopWriteFailed = 4, // the recording could not be written (disk full, folder gone)
};

struct ReadLoopState {
    long long bytes = 0; // bytes received and written so far
    // Fed every byte as it is written to the recording; null: none.
    record::Sha256* received = nullptr;
};

// Runs the loop on an open port. `progress` is called after every read with
// the running count. Every byte read before a failure is in `recording`.
ReadLoopResult RunReadLoop(CableLine& port, std::FILE* recording, const std::atomic<int>& stop,
                           const std::function<void(long long bytes)>& progress,
                           ReadLoopState& state);

} // namespace zav
