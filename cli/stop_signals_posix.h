// The signals that end a command-line session: SIGINT, SIGTERM and SIGHUP
// call the given handler (a closed terminal ends a session like Stop), and
// SIGPIPE is ignored (output piped into a reader that went away must not end
// a recording). The earlier dispositions come back when the guard goes.
#pragma once

#include <signal.h>

namespace zav::cli {

class StopSignals {
  public:
    explicit StopSignals(void (*handler)(int)) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < 3; ++i)
            sigaction(kStops[i], &action, &old_[i]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &old_[3]);
    }
    ~StopSignals() {
        for (int i = 0; i < 3; ++i)
            sigaction(kStops[i], &old_[i], nullptr);
        sigaction(SIGPIPE, &old_[3], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    static constexpr int kStops[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction old_[4]{};
};

} // namespace zav::cli
