#include <signal.h>

#include "cli/stop_signals.h"

namespace zav::cli {

namespace {
constexpr int kStops[3] = {SIGINT, SIGTERM, SIGHUP};
}

struct StopSignals::Saved {
    struct sigaction old[4]{};
};

StopSignals::StopSignals(Handler onStop) : saved_(std::make_unique<Saved>()) {
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i)
        sigaction(kStops[i], &action, &saved_->old[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &saved_->old[3]);
}

StopSignals::~StopSignals() {
    for (int i = 0; i < 3; ++i)
        sigaction(kStops[i], &saved_->old[i], nullptr);
    sigaction(SIGPIPE, &saved_->old[3], nullptr);
}

} // namespace zav::cli
