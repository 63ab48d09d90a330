// The capture session in the main dialog: Start, Stop and Close hand the
// dialog's settings to the session controller and show what it tells.
//
// The settings are read from the value store once, at Start, into the
// session's request (the single-file choice again once the recording has
// ended). Start stays unavailable until the session's thread has really
// ended, so that two sessions never write the same files.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/utf8_names.h"
#include "capture/cable.h"
#include "capture/serial.h"
#include "capture/session_control.h"
#include "host/exports.h"
#include "host/vok.h"
#include "record/crypto.h"

namespace {

constexpr DWORD kThreadStackSize = 65536;
constexpr DWORD kStartPauseMs = 100;
constexpr int kPortTextSize = 32;

// A Win32 thread with the capture thread's small stack. Waiting with `pump`
// keeps serving the thread's windows (painting, the status field) and ends
// as soon as the session's thread does.
class Win32SessionThread : public zav::SessionThread {
  public:
    bool Launch(std::function<void()> body) override {
        auto* heap = new (std::nothrow) std::function<void()>(std::move(body));
        if (!heap)
            return false;
        handle_ = CreateThread(nullptr, kThreadStackSize, Run, heap, 0, nullptr);
        if (!handle_) {
            delete heap;
            return false;
        }
        return true;
    }
    bool Wait(int ms, bool pump) override {
        if (!handle_)
            return true;
        if (!pump)
            return WaitForSingleObject(handle_, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
        for (;;) {
            const ULONGLONG now = GetTickCount64();
            const DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
            const DWORD woke = MsgWaitForMultipleObjects(1, &handle_, FALSE, left, QS_ALLINPUT);
            if (woke == WAIT_OBJECT_0)
                return true;
            if (woke != WAIT_OBJECT_0 + 1)
                return false; // time is up (or the wait failed)
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    // Not ours to take: leave it for the dialog's own loop.
                    PostQuitMessage(static_cast<int>(msg.wParam));
                    return WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0;
                }
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    bool Kill() override {
        // Ended for good before the handle is let go of.
        return !handle_ || (TerminateThread(handle_, static_cast<DWORD>(-1)) &&
                            WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0);
    }
    void Release() override {
        if (handle_)
            CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    static DWORD WINAPI Run(LPVOID param) {
        auto* body = static_cast<std::function<void()>*>(param);
        try {
            (*body)();
        } catch (...) {
        }
        delete body;
        return 0;
    }
    HANDLE handle_ = nullptr;
};

class Win32SessionClock : public zav::SessionClock {
  public:
    void Sleep(int ms) override { ::Sleep(static_cast<DWORD>(ms)); }
};

class WindowsSessionEnv : public zav::CaptureSessionEnv {
  public:
    explicit WindowsSessionEnv(HQUOR store) : store_(store) {}
    std::unique_ptr<zav::CableLine> OpenPort(const std::string& port,
                                             zav::SystemError& error) override {
        auto line = std::make_unique<zav::SerialLine>();
        if (line->Port().Open(zav::PortNumberFromText(port.c_str()), zav::kCableBaudRate, 0) !=
            zav::kCommOk) {
            error = line->Port().Error();
            return nullptr;
        }
        return line;
    }
    void SetStatus(const char* text) override {
        quorSetString(store_, "_Status", zav::AnsiOfUtf8(text).c_str());
    }
    bool FinishAsSingleFile(bool) override { return quorGetNumeric(store_, "SingleFile") != 0; }
    // The key that signs the session's records: the controller keeps this
    // environment, and so the key, until the next Start, after the thread.
    zav::record::SigningKey& Key() { return key_; }

  private:
    HQUOR store_;
    zav::record::SigningKey key_;
};

std::atomic<int> g_stop{0};
Win32SessionThread g_thread;
Win32SessionClock g_clock;
zav::SessionController g_session(g_thread, g_clock, g_stop);
bool g_closing = false; // dialog thread only

std::string StoreText(HQUOR store, const char* field, int size) {
    std::string text(static_cast<std::size_t>(size), '\0');
    quorGetString(store, field, text.data(), size);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

zav::CaptureRequest ReadRequest(HQUOR store) {
    zav::CaptureRequest request;
    request.folder =
        zav::Utf8OfAnsi(StoreText(store, "CaptureFolder", static_cast<int>(zav::kPathBufferSize)));
    request.name = zav::Utf8OfAnsi(
        StoreText(store, "CaptureFilename", static_cast<int>(zav::kPathBufferSize)));
    request.port = StoreText(store, "Port1", kPortTextSize);
    request.singleFile = quorGetNumeric(store, "SingleFile") != 0;
    request.printer = zav::PrinterSetting(store);
    zav::PdfSettings(store, request.pdf, request.paper);
    // The words beside the report unless the setting "Text" says 0.
    request.text = quorGetType(store, "Text") == QUOR_NONE || quorGetNumeric(store, "Text") != 0;
    // The record: the model text the cable's handshake stored, and the
    // recording kept whole as NAME.raw when "KeepRaw" says so.
    request.instrument = StoreText(store, "Model", 64);
    request.keepRaw = quorGetNumeric(store, "KeepRaw") != 0;
    request.records.program = "RUDIRAVU " ZAV_PROGRAM_VERSION;
    // Asked of the driver now: once the session holds the port it cannot be.
    request.cableSerial = zav::CableSerialOf({}, request.port);
    return request;
}

// Loads the key that the setting "SignKey" names into `key` and has the
// request's record and audit lines signed with it. False, with the status
// naming the key file and why, when the key cannot be loaded: a lab that
// asked for signatures never gets unsigned records.
bool UseSignKey(HQUOR store, zav::CaptureRequest& request, zav::record::SigningKey& key) {
    const std::string path =
        zav::Utf8OfAnsi(StoreText(store, "SignKey", static_cast<int>(zav::kPathBufferSize)));
    if (path.empty())
        return true;
    const int loaded = zav::record::LoadSigningKey(path, key);
    if (loaded != zav::record::kKeyOk) {
        std::string text(path.size() + 160, '\0');
        const int size = std::snprintf(text.data(), text.size(), zav::kStatusSignKeyFailed,
                                       path.c_str(), zav::record::KeyFileResultText(loaded));
        text.resize(size < 0 ? 0 : std::min(static_cast<std::size_t>(size), text.size() - 1));
        quorSetString(store, "_Status", zav::AnsiOfUtf8(text).c_str());
        return false;
    }
    request.records.key = &key;
    return true;
}

bool Busy() {
    const zav::SessionPhase phase = g_session.Phase();
    return phase == zav::SessionPhase::Recording || phase == zav::SessionPhase::Finishing;
}

// Asks before a session replaces an earlier capture of its name or a
// recording kept from an earlier session, naming what is there (the kept
// recording first, then the report); true when it may go on. Yes lets the
// session replace them.
bool MayReplace(VokWnd window, const zav::CaptureNames& names, bool& replace) {
    const std::vector<std::string> existing = names.Existing();
    replace = !existing.empty();
    int answer = IDYES;
    if (existing.size() >= 2 && names.RecordingExists())
        answer = vokDoMessageFmt(window, MB_YESNO, "ZAV Print Utility",
                                 "Files %s and %s already exist; overwrite?", existing[0].c_str(),
                                 existing[1].c_str());
    else if (!existing.empty())
        answer = vokDoMessageFmt(window, MB_YESNO, "ZAV Print Utility",
                                 "File %s already exists; overwrite?", existing[0].c_str());
    return answer != IDNO;
}

// Called in a catch block: no exception leaves a callback of the host. The
// status says why, and Start is available unless a session runs.
int TellFailure(VokWnd window, HQUOR store) noexcept {
    try {
        zav::SessionOutcome failed;
        failed.result = zav::kSessionFailed;
        failed.failure = zav::CurrentFailureReason();
        quorSetString(store, "_Status", zav::AnsiOfUtf8(zav::SessionEndText(failed)).c_str());
        HVOKDLG dlg = vokDialogFromWindow(window);
        if (!Busy())
            vokSetAccess(dlg, vokGetIndexFromTag(dlg, "Start"), VOK_ACCESS_ENABLED);
    } catch (...) {
    }
    return 1;
}

} // namespace

ZAV_EXPORT int DP_Capture_Start(VokWnd window, std::intptr_t, std::intptr_t, std::intptr_t,
                                HQUOR store) try {
    HVOKDLG dlg = vokDialogFromWindow(window);
    // Never two sessions at once: the last one may still be making pages.
    if (Busy())
        return 1;
    zav::CaptureRequest request = ReadRequest(store);
    auto env = std::make_unique<WindowsSessionEnv>(store);
    if (!UseSignKey(store, request, env->Key()))
        return 1;
    zav::CaptureNames names;
    if (zav::CaptureNames::Make(request.folder, request.name, names) == zav::kFinishOk &&
        !MayReplace(window, names, request.replace))
        return 1;
    const int start = vokGetIndexFromTag(dlg, "Start");
    vokSetAccess(dlg, start, VOK_ACCESS_DISABLED);
    quorSetString(store, "_Status", zav::kStatusWaiting);
    const auto started =
        g_session.Start(request, std::move(env), [dlg, start](const zav::SessionOutcome&) {
            vokSetAccess(dlg, start, VOK_ACCESS_ENABLED);
        });
    if (started != zav::SessionController::kStarted) {
        // The session has ended at once and said why.
        vokSetAccess(dlg, start, VOK_ACCESS_ENABLED);
        return 1;
    }
    Sleep(kStartPauseMs);
    return 1;
} catch (...) {
    return TellFailure(window, store);
}

ZAV_EXPORT int DP_Capture_Stop(VokWnd window, std::intptr_t, std::intptr_t, std::intptr_t,
                               HQUOR store) try {
    HVOKDLG dlg = vokDialogFromWindow(window);
    const zav::SessionPhase before = g_session.Phase();
    const zav::SessionPhase after = g_session.Stop();
    // Still at the end of a burst or making pages: the status says so, and
    // the session makes Start available when it ends.
    if (after == zav::SessionPhase::Recording || after == zav::SessionPhase::Finishing)
        return 1;
    vokSetAccess(dlg, vokGetIndexFromTag(dlg, "Start"), VOK_ACCESS_ENABLED);
    // What a session wrote, or why it failed, stays on show.
    if (before == zav::SessionPhase::Idle)
        quorSetItem(store, "_Status", 0, 0);
    return 1;
} catch (...) {
    return TellFailure(window, store);
}

ZAV_EXPORT std::intptr_t CB_Cancel(HVOKDLG dlg, int message, std::intptr_t v1,
                                   std::intptr_t v2) try {
    if (message == VOK_ACTIVATE && !g_closing) {
        g_closing = true;
        const zav::SessionController::CloseResult closed = g_session.Close();
        g_closing = false;
        // A session that Stop ended already has nothing more to tell.
        if (closed.hadSession && closed.ended && closed.result == zav::kSessionStopped &&
            !closed.stoppedBefore)
            vokDoMessageFmt(nullptr, MB_OK, "", "Thread finished, result %d", closed.result);
    }
    return vokCtlDefProc(dlg, message, v1, v2);
} catch (...) {
    g_closing = false;
    return 0;
}
