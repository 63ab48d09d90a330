// The stops that end a command-line session or the watch from outside the
// program. On Linux: SIGINT, SIGTERM and SIGHUP (a closed terminal ends a
// session like Stop), with SIGPIPE ignored (output piped into a reader that
// went away must not end a recording). On Windows: Ctrl+C, Ctrl+Break,
// closing the console window, log-off and shutdown (log-off only for a
// program in the user's session: a watch started at boot outlives any
// user's log-off), and "taskkill" without /F.
//
// Each stop calls `onStop` on whatever thread the system uses (in a signal
// handler on Linux), so it may only set a lock-free atomic. Windows ends a
// program soon after its console window closes or the session ends; for
// these the stop is held back until the guard goes (the program has
// finished what came), at most kEndingWaitMs, which is about as long as
// Windows grants. The earlier handling comes back when the guard goes.
#pragma once

#include <memory>

namespace zav::cli {

inline constexpr int kEndingWaitMs = 20000;

class StopSignals {
  public:
    using Handler = void (*)(int);
    explicit StopSignals(Handler onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

} // namespace zav::cli
