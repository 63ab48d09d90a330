// Console events reach the handler on a thread the console starts for each.
// A program that uses user32 (this one does) is told of log-off and shutdown
// through its windows instead, so a hidden window on a thread of its own
// takes WM_ENDSESSION; it also takes the WM_CLOSE that "taskkill" (without
// /F) sends, the way to stop a watch that has no console window to close.
// Both only call the stop handler and then, for the events after which
// Windows ends the program, wait for the guard to go.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <thread>

#include "cli/stop_signals.h"

namespace zav::cli {

namespace {

constexpr wchar_t kWindowClass[] = L"zavprint-session-end";
constexpr UINT kEndWindow = WM_APP + 1; // the guard goes: the window's thread ends

std::atomic<StopSignals::Handler> g_onStop{nullptr};
HANDLE g_finished = nullptr; // set once the guard goes
std::atomic<int> g_waiting{0};

// A log-off ends only a program of the session that logs off; one running
// in session 0 (started at boot) goes on.
bool EndsThisProgram(bool logoff) {
    DWORD session = 0;
    return !logoff || !ProcessIdToSessionId(GetCurrentProcessId(), &session) || session != 0;
}

void StopAndWait(DWORD type, bool ending) {
    ++g_waiting;
    if (StopSignals::Handler onStop = g_onStop.load())
        onStop(static_cast<int>(type));
    if (ending && g_finished != nullptr)
        WaitForSingleObject(g_finished, kEndingWaitMs);
    --g_waiting;
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        StopAndWait(type, false);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        StopAndWait(type, true);
        return TRUE;
    case CTRL_LOGOFF_EVENT:
        if (EndsThisProgram(true))
            StopAndWait(type, true);
        return TRUE;
    default:
        return FALSE;
    }
}

LRESULT CALLBACK SessionWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam && EndsThisProgram((lParam & ENDSESSION_LOGOFF) != 0))
            StopAndWait(CTRL_SHUTDOWN_EVENT, true);
        return 0;
    case WM_CLOSE:
        // Asked to end from outside: a stop like Ctrl+C; the program ends
        // once it has finished what came.
        StopAndWait(CTRL_CLOSE_EVENT, false);
        return 0;
    case kEndWindow:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

struct StopSignals::Saved {
    std::thread thread;
    std::atomic<HWND> window{nullptr};
    HANDLE ready = nullptr;
};

StopSignals::StopSignals(Handler onStop) : saved_(std::make_unique<Saved>()) {
    g_onStop.store(onStop);
    g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    saved_->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (saved_->ready == nullptr)
        return;
    Saved* saved = saved_.get();
    try {
        saved->thread = std::thread([saved] {
            const HINSTANCE module = GetModuleHandleW(nullptr);
            WNDCLASSW type{};
            type.lpfnWndProc = SessionWindow;
            type.hInstance = module;
            type.lpszClassName = kWindowClass;
            RegisterClassW(&type);
            // A top-level window that is never shown: message-only windows are
            // not told of the session's end.
            HWND window = CreateWindowExW(0, kWindowClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                          nullptr, module, nullptr);
            saved->window.store(window);
            SetEvent(saved->ready);
            if (window == nullptr)
                return;
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
            UnregisterClassW(kWindowClass, module);
        });
    } catch (...) {
        return; // no thread: the console's events still stop it
    }
    WaitForSingleObject(saved_->ready, INFINITE);
}

StopSignals::~StopSignals() {
    // What came is finished: a close, log-off or shutdown waiting for it may go on.
    if (g_finished != nullptr)
        SetEvent(g_finished);
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    if (HWND window = saved_->window.load())
        PostMessageW(window, kEndWindow, 0, 0);
    if (saved_->thread.joinable())
        saved_->thread.join();
    if (saved_->ready != nullptr)
        CloseHandle(saved_->ready);
    // A handler still on its way out holds the event a moment longer.
    while (g_waiting.load() != 0)
        Sleep(10);
    g_onStop.store(nullptr);
    if (g_finished != nullptr)
        CloseHandle(g_finished);
    g_finished = nullptr;
}

} // namespace zav::cli
