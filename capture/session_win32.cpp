// The capture session in the main dialog: Start, Stop and Close.
//
// One capture thread at a time runs RunCaptureSession. Start stays unavailable
// until that thread has really ended: Stop that finds it still making pages
// says so in "_Status" and leaves it to the thread to make Start available
// again, so that two sessions never write the same files or run the renderer
// and the report at once. The thread handle is closed as soon as the ended
// thread is noticed (by Stop, the next Start or Close).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/exports.h"
#include "capture/readloop.h"
#include "capture/serial.h"
#include "capture/session.h"
#include "host/vok.h"

namespace {

constexpr DWORD kThreadStackSize = 65536;
constexpr DWORD kStartPauseMs = 100;
constexpr DWORD kStopPauseMs = 100;
constexpr DWORD kStopWaitMs = 400;
constexpr DWORD kCancelWaitMs = 1000;
// Closing waits this long for a session to make its pages before giving up on it.
constexpr DWORD kCancelFinishWaitMs = 60000;

std::atomic<int> g_stop{0};
HANDLE g_thread = nullptr; // dialog thread only

// Between Stop and the end of the thread: whether Stop showed the finishing
// text (the thread then clears it) and whether the thread is past its work.
std::mutex g_endLock;
bool g_finishingShown = false;
bool g_threadDone = false;
bool g_stoppedByUser = false; // dialog thread only

class WindowsSessionEnv : public zav::CaptureSessionEnv {
  public:
    explicit WindowsSessionEnv(HQUOR store) : store_(store) {}
    std::unique_ptr<zav::CableLine> OpenPort(const char* port1) override {
        auto line = std::make_unique<zav::SerialLine>();
        if (line->Port().Open(zav::PortNumberFromText(port1), zav::kCableBaudRate, 0) !=
            zav::kCommOk)
            return nullptr;
        return line;
    }
    void SetStatus(const char* text) override { quorSetString(store_, "_Status", text); }
    // Once Stop has said that the session is finishing, the byte count of the
    // burst still coming in does not take that text away.
    void OnProgress(long long bytes) override {
        std::lock_guard<std::mutex> guard(g_endLock);
        if (!g_finishingShown)
            CaptureSessionEnv::OnProgress(bytes);
    }

  private:
    HQUOR store_;
};

DWORD WINAPI CaptureThread(LPVOID param) {
    HVOKDLG dlg = vokDialogFromWindow(param);
    HQUOR store = static_cast<HQUOR>(vokGetInfo(dlg, VOK_INFO_STORE));
    const int start = vokGetIndexFromTag(dlg, "Start");
    int result = zav::kSessionCannotOpenFile;
    zav::SessionOutcome outcome;
    if (store) {
        WindowsSessionEnv env(store);
        result = zav::RunCaptureSession(store, env, g_stop, &outcome);
    }
    g_stop.store(1);
    {
        std::lock_guard<std::mutex> guard(g_endLock);
        g_threadDone = true;
        // A finishing text that Stop showed is over now; a failure text stays.
        if (g_finishingShown && result == zav::kSessionStopped &&
            outcome.finishResult == zav::kFinishOk)
            quorSetItem(store, "_Status", 0, 0);
    }
    vokSetAccess(dlg, start, VOK_ACCESS_ENABLED);
    return static_cast<DWORD>(result);
}

constexpr DWORD kThreadExitWaitMs = 2000;

// Closes the handle of a thread that is past its work (it only has to return);
// false while it still records or makes pages.
bool ForgetEndedThread() {
    if (!g_thread)
        return true;
    {
        std::lock_guard<std::mutex> guard(g_endLock);
        if (!g_threadDone)
            return false;
    }
    WaitForSingleObject(g_thread, kThreadExitWaitMs);
    CloseHandle(g_thread);
    g_thread = nullptr;
    return true;
}

} // namespace

ZAV_EXPORT int DP_Capture_Start(VokWnd window, std::intptr_t, std::intptr_t, std::intptr_t,
                                HQUOR store) {
    HVOKDLG dlg = vokDialogFromWindow(window);
    // Never two sessions at once: the last one may still be making pages.
    if (!ForgetEndedThread())
        return 1;
    char folder[zav::kPathBufferSize] = "";
    char name[zav::kPathBufferSize] = "";
    char base[zav::kPathBufferSize];
    quorGetString(store, "CaptureFolder", folder, sizeof folder);
    quorGetString(store, "CaptureFilename", name, sizeof name);
    if (zav::MakeBasePath(folder, name, base, sizeof base) == zav::kFinishOk) {
        const std::string report = std::string(base) + ".html";
        if (_access(report.c_str(), 0) == 0 &&
            vokDoMessageFmt(window, MB_YESNO, "ZAV Print Utility",
                            "File %s already exists; overwrite?", report.c_str()) == IDNO)
            return 1;
    }
    const int start = vokGetIndexFromTag(dlg, "Start");
    vokSetAccess(dlg, start, VOK_ACCESS_DISABLED);
    quorSetString(store, "_Status", zav::kStatusWaiting);
    {
        std::lock_guard<std::mutex> guard(g_endLock);
        g_finishingShown = false;
        g_threadDone = false;
    }
    g_stoppedByUser = false;
    g_stop.store(0);
    g_thread = CreateThread(nullptr, kThreadStackSize, CaptureThread, window, 0, nullptr);
    if (!g_thread) {
        quorSetString(store, "_Status", zav::kStatusCannotOpenFile);
        vokSetAccess(dlg, start, VOK_ACCESS_ENABLED);
        return 1;
    }
    Sleep(kStartPauseMs);
    return 1;
}

ZAV_EXPORT int DP_Capture_Stop(VokWnd window, std::intptr_t, std::intptr_t, std::intptr_t,
                               HQUOR store) {
    HVOKDLG dlg = vokDialogFromWindow(window);
    g_stop.store(1);
    Sleep(kStopPauseMs);
    if (g_thread) {
        g_stoppedByUser = true;
        WaitForSingleObject(g_thread, kStopWaitMs);
        std::lock_guard<std::mutex> guard(g_endLock);
        if (!g_threadDone) {
            // Still reading the end of a burst or making pages: Start waits
            // for the thread, which makes it available when it ends.
            g_finishingShown = true;
            quorSetString(store, "_Status", zav::kStatusFinishing);
            return 1;
        }
    }
    ForgetEndedThread();
    vokSetAccess(dlg, vokGetIndexFromTag(dlg, "Start"), VOK_ACCESS_ENABLED);
    quorSetItem(store, "_Status", 0, 0);
    return 1;
}

ZAV_EXPORT std::intptr_t CB_Cancel(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    if (message == VOK_ACTIVATE && g_thread) {
        g_stop.store(1);
        DWORD waited = WaitForSingleObject(g_thread, kCancelWaitMs);
        if (waited != WAIT_OBJECT_0) {
            // The instrument is still printing, or pages are being made. The
            // recording stops at once and what arrived is still made into
            // pages; killing the thread instead could leave a lock of the
            // value store or the heap held and hang the program on its way out.
            g_stop.store(zav::kStopNow);
            waited = WaitForSingleObject(g_thread, kCancelFinishWaitMs);
            if (waited != WAIT_OBJECT_0)
                TerminateThread(g_thread, static_cast<DWORD>(-1)); // last resort
        }
        DWORD code = 0;
        // A session that Stop ended already has nothing more to tell.
        if (waited == WAIT_OBJECT_0 && GetExitCodeThread(g_thread, &code) && code == 0 &&
            !g_stoppedByUser)
            vokDoMessageFmt(nullptr, MB_OK, "", "Thread finished, result %d",
                            static_cast<int>(code));
        CloseHandle(g_thread);
        g_thread = nullptr;
    }
    return vokCtlDefProc(dlg, message, v1, v2);
}
