#include "capture/session_control.h"

#include <chrono>
#include <cstdio>

#include "capture/readloop.h"

namespace zav {

StdSessionThread::~StdSessionThread() {
    if (thread_.joinable())
        thread_.join();
}

bool StdSessionThread::Launch(std::function<void()> body) {
    if (thread_.joinable())
        return false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        done_ = false;
    }
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            try {
                body();
            } catch (...) {
            }
            std::lock_guard<std::mutex> guard(lock_);
            done_ = true;
            ended_.notify_all();
        });
    } catch (...) {
        return false; // no thread, or no memory for the body
    }
    return true;
}

bool StdSessionThread::Wait(int ms, bool) {
    std::unique_lock<std::mutex> guard(lock_);
    return ended_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return done_; });
}

bool StdSessionThread::Kill() {
    // Detached, it would run on with the objects it uses gone.
    return false;
}

void StdSessionThread::Release() {
    if (thread_.joinable())
        thread_.join();
}

void SteadySessionClock::Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Stands between the session and its platform: follows the phase and the
// byte count, and once a stop is asked shows the stop's own texts instead
// of the byte count.
class SessionController::TrackingEnv : public CaptureSessionEnv {
  public:
    TrackingEnv(SessionController& owner, CaptureSessionEnv& inner)
        : owner_(owner), inner_(inner) {}
    std::unique_ptr<CableLine> OpenPort(const std::string& port) override {
        return inner_.OpenPort(port);
    }
    void SetStatus(const char* text) override {
        std::lock_guard<std::mutex> guard(owner_.lock_);
        inner_.SetStatus(text);
    }
    void OnProgress(long long bytes) override {
        owner_.bytes_.store(bytes);
        std::lock_guard<std::mutex> guard(owner_.lock_);
        if (owner_.stopAsked_.load())
            owner_.ShowStopTextLocked();
        else
            inner_.OnProgress(bytes);
    }
    void OnFinishing(long long bytes) override {
        owner_.bytes_.store(bytes);
        owner_.phase_.store(SessionPhase::Finishing);
        inner_.OnFinishing(bytes);
        char text[96];
        std::snprintf(text, sizeof text, kStatusFinishing, bytes);
        SetStatus(text);
    }
    bool FinishAsSingleFile(bool requested) override {
        return inner_.FinishAsSingleFile(requested);
    }

  private:
    SessionController& owner_;
    CaptureSessionEnv& inner_;
};

SessionController::SessionController(SessionThread& thread, SessionClock& clock,
                                     std::atomic<int>& stop)
    : thread_(thread), clock_(clock), stop_(stop) {}

SessionController::~SessionController() {
    if (!launched_)
        return;
    RaiseStop(kStopNow);
    if (!thread_.Wait(kCloseFinishWaitMs, false) && !thread_.Kill()) {
        while (!thread_.Wait(kCloseFinishWaitMs, false)) {
        }
    }
    thread_.Release();
}

bool SessionController::ForgetEndedThread(int waitMs) {
    if (!launched_)
        return true;
    if (phase_.load() != SessionPhase::Ended)
        return false;
    // Past its work: it only has to return.
    thread_.Wait(waitMs, false);
    thread_.Release();
    launched_ = false;
    return true;
}

SessionController::StartResult
SessionController::Start(const CaptureRequest& request, std::unique_ptr<CaptureSessionEnv> env,
                         std::function<void(const SessionOutcome&)> onEnded) {
    if (killed_ || !ForgetEndedThread(2000))
        return kBusy;
    try {
        tracking_.reset();
        env_ = std::move(env);
        tracking_ = std::make_unique<TrackingEnv>(*this, *env_);
        {
            std::lock_guard<std::mutex> guard(lock_);
            outcome_ = SessionOutcome{};
        }
        bytes_.store(0);
        stopAsked_.store(false);
        stop_.store(0);
        phase_.store(SessionPhase::Recording);
        if (thread_.Launch(
                [this, request, onEnded = std::move(onEnded)] { RunSession(request, onEnded); })) {
            launched_ = true;
            return kStarted;
        }
        EndWithoutThread(kStatusReasonNoThread);
    } catch (...) {
        EndWithoutThread(CurrentFailureReason());
    }
    return kNoThread;
}

// The body of the session's thread: nothing it calls may leave the session
// unended, so that Start comes back whatever happened.
void SessionController::RunSession(const CaptureRequest& request,
                                   const std::function<void(const SessionOutcome&)>& onEnded) {
    SessionOutcome outcome;
    try {
        RunCaptureSession(request, *tracking_, stop_, &outcome);
    } catch (...) {
        outcome.result = kSessionFailed;
        outcome.failure = CurrentFailureReason();
        RaiseStop(1);
        try {
            tracking_->SetStatus(SessionEndText(outcome).c_str());
        } catch (...) {
        }
    }
    Publish(outcome);
    phase_.store(SessionPhase::Ended);
    if (onEnded) {
        try {
            onEnded(outcome);
        } catch (...) {
        }
    }
}

// A session that could not start: ended at once, and the reason shown.
void SessionController::EndWithoutThread(const char* reason) {
    SessionOutcome outcome;
    outcome.result = kSessionFailed;
    outcome.failure = reason;
    Publish(outcome);
    phase_.store(SessionPhase::Ended);
    if (!env_)
        return;
    try {
        env_->SetStatus(SessionEndText(outcome).c_str());
    } catch (...) {
    }
}

// Makes the outcome the last session's; without memory for a copy it is
// moved, and the caller's is left empty.
void SessionController::Publish(SessionOutcome& outcome) {
    std::lock_guard<std::mutex> guard(lock_);
    try {
        outcome_ = outcome;
    } catch (...) {
        outcome_ = std::move(outcome);
    }
}

void SessionController::ShowStopTextLocked() {
    if (phase_.load() != SessionPhase::Recording || !env_)
        return;
    char text[96];
    std::snprintf(text, sizeof text, kStatusStopping, bytes_.load());
    env_->SetStatus(text);
}

void SessionController::RaiseStop(int how) {
    // Never lower a stop that was asked at once.
    int current = stop_.load();
    while (current < how && !stop_.compare_exchange_weak(current, how)) {
    }
}

void SessionController::RequestStop(int how) {
    RaiseStop(how);
    if (!launched_)
        return;
    std::lock_guard<std::mutex> guard(lock_);
    stopAsked_.store(true);
    try {
        ShowStopTextLocked();
    } catch (...) {
        // The stop stands; only its text is not shown.
    }
}

SessionPhase SessionController::Stop() {
    RequestStop(1);
    if (!launched_)
        return phase_.load();
    clock_.Sleep(kStopPauseMs);
    WaitEnded(kStopWaitMs);
    return phase_.load();
}

bool SessionController::WaitEnded(int ms, bool pump) {
    if (!launched_)
        return phase_.load() != SessionPhase::Recording && phase_.load() != SessionPhase::Finishing;
    if (!thread_.Wait(ms, pump))
        return false;
    thread_.Release();
    launched_ = false;
    return true;
}

SessionController::CloseResult SessionController::Close() {
    CloseResult closed;
    if (!launched_)
        return closed;
    closed.hadSession = true;
    closed.stoppedBefore = stopAsked_.load();
    RequestStop(1);
    bool ended = WaitEnded(kCloseWaitMs, true);
    if (!ended) {
        // The instrument is still printing, or pages are being made. The
        // recording stops at once and what arrived is still made into pages;
        // killing the thread could leave a lock it holds taken for good.
        RequestStop(kStopNow);
        ended = WaitEnded(kCloseFinishWaitMs, true);
    }
    if (!ended) {
        if (thread_.Kill()) {
            thread_.Release();
            launched_ = false;
            killed_ = true;
        }
        return closed;
    }
    closed.ended = true;
    std::lock_guard<std::mutex> guard(lock_);
    closed.result = outcome_.result;
    return closed;
}

SessionOutcome SessionController::Outcome() const {
    std::lock_guard<std::mutex> guard(lock_);
    return outcome_;
}

} // namespace zav
