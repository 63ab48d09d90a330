// The life of capture sessions, one at a time: Start, Stop and Close, as the
// Windows dialog's buttons and the zavprint terminal loop use them.
//
//   idle --Start--> recording --(stop flag, burst over; or a failure)--> finishing
//        --(pages and report made)--> ended --Start--> recording ...
//
// A session whose port or recording cannot be opened goes from recording to
// ended at once and changes no file. Start is refused while a session is
// recording or finishing, so two sessions never write the same files. Any
// failure, an exception included, or a thread that cannot be started, ends
// the session with its reason in the status, so that Start comes back. The
// thread and the clock are the platform's; tests put their own in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/session.h"

namespace zav {

enum class SessionPhase { Idle, Recording, Finishing, Ended };

// The thread that runs a session.
class SessionThread {
  public:
    virtual ~SessionThread() = default;
    // Starts `body` on a new thread; false when none could be made.
    virtual bool Launch(std::function<void()> body) = 0;
    // Waits at most `ms` for the body to return, and no longer than that.
    // With `pump` the caller's windows keep being served while it waits.
    // True once the body has returned.
    virtual bool Wait(int ms, bool pump) = 0;
    // Last resort for a thread that does not return: ends it where it is.
    // False when this kind of thread cannot be ended: it runs on, and is
    // still to be waited for.
    virtual bool Kill() = 0;
    // Lets go of a thread whose body has returned (or was killed).
    virtual void Release() = 0;
};

class SessionClock {
  public:
    virtual ~SessionClock() = default;
    virtual void Sleep(int ms) = 0;
};

// A std::thread, which cannot be killed: Kill leaves it to be waited for.
class StdSessionThread : public SessionThread {
  public:
    ~StdSessionThread() override;
    bool Launch(std::function<void()> body) override;
    bool Wait(int ms, bool pump) override;
    bool Kill() override;
    void Release() override;

  private:
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable ended_;
    bool done_ = false;
};

class SteadySessionClock : public SessionClock {
  public:
    void Sleep(int ms) override;
};

// Pauses and waits of the Windows dialog's buttons.
inline constexpr int kStopPauseMs = 100;
inline constexpr int kStopWaitMs = 400;
inline constexpr int kCloseWaitMs = 1000;
// Closing waits this long for a session stopped at once to make its pages.
inline constexpr int kCloseFinishWaitMs = 60000;

class SessionController {
  public:
    // `stop` is the sessions' stop flag (a signal handler may set it too).
    SessionController(SessionThread& thread, SessionClock& clock, std::atomic<int>& stop);
    // A session still running is stopped at once and waited for (killed
    // after kCloseFinishWaitMs where the thread allows): its thread uses
    // this object.
    ~SessionController();
    SessionController(const SessionController&) = delete;
    SessionController& operator=(const SessionController&) = delete;

    enum StartResult { kStarted, kBusy, kNoThread };
    // Starts a session on `request`; `env` serves it until the next Start.
    // kBusy while the last session records or makes pages (or was killed).
    // kNoThread when it cannot start: the session has ended at once, and
    // `env` has shown why. `onEnded` runs on the session's thread as its
    // last action.
    StartResult Start(const CaptureRequest& request, std::unique_ptr<CaptureSessionEnv> env,
                      std::function<void(const SessionOutcome&)> onEnded = {});

    // Asks the session to stop: with 1 once the line falls quiet, with
    // kStopNow at once. While it still records, the status says it waits for
    // the end of the printout, with the byte count.
    void RequestStop(int how = 1);
    // The Stop button: asks to stop, pauses and waits a little for the end.
    // Returns the phase it leaves the session in.
    SessionPhase Stop();

    struct CloseResult {
        bool hadSession = false;    // a session had not been let go of yet
        bool ended = false;         // it ended (not killed)
        bool stoppedBefore = false; // Stop had been asked before Close
        int result = kSessionStopped;
    };
    // Closing: stops the session, waits for it while the windows keep being
    // served, stops it at once when the printout goes on, and as a last
    // resort kills its thread (one that cannot be killed is left to run on,
    // still counted as this controller's).
    CloseResult Close();

    // Waits at most `ms` for the end of the session; true when it has ended
    // (then its thread is let go of).
    bool WaitEnded(int ms, bool pump = false);

    SessionPhase Phase() const { return phase_.load(); }
    long long Bytes() const { return bytes_.load(); }
    // The outcome of the last session, once it has ended.
    SessionOutcome Outcome() const;

  private:
    class TrackingEnv;
    void RunSession(const CaptureRequest& request,
                    const std::function<void(const SessionOutcome&)>& onEnded);
    void EndWithoutThread(const char* reason);
    void Publish(SessionOutcome& outcome);
    void RaiseStop(int how);
    void ShowStopTextLocked(); // with lock_ held
    bool ForgetEndedThread(int waitMs);

    SessionThread& thread_;
    SessionClock& clock_;
    std::atomic<int>& stop_;
    std::atomic<SessionPhase> phase_{SessionPhase::Idle};
    std::atomic<long long> bytes_{0};
    std::atomic<bool> stopAsked_{false};
    bool launched_ = false;   // a thread not let go of yet (caller's thread only)
    bool killed_ = false;     // a killed thread may have left the session half done
    mutable std::mutex lock_; // status texts and the outcome
    SessionOutcome outcome_;
    std::unique_ptr<CaptureSessionEnv> env_;
    std::unique_ptr<TrackingEnv> tracking_;
};

} // namespace zav
