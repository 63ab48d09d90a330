// The dialog engine's base window and its message boxes.
#include "host/vok.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr char kBaseClass[] = "vokBase";

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

} // namespace

// The base window is never shown: it owns the dialogs and the message boxes.
VokWnd vokCreateBaseWnd(int, int, HQUOR) {
    HINSTANCE instance = ThisModule();
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = kBaseClass;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    return CreateWindowExA(0, kBaseClass, "ZAV Print Utility", WS_POPUP, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
}

void vokDestroyBaseWnd(VokWnd window) {
    if (window && IsWindow(static_cast<HWND>(window)))
        DestroyWindow(static_cast<HWND>(window));
}

int vokDoMessage(VokWnd owner, int type, const char* title, const char* text) {
    return MessageBoxA(static_cast<HWND>(owner), text ? text : "", title ? title : "",
                       static_cast<UINT>(type));
}

int vokDoMessageVFmt(VokWnd owner, int type, const char* title, const char* format, va_list args) {
    std::string text;
    if (format) {
        va_list measure;
        va_copy(measure, args);
        int n = std::vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        if (n > 0) {
            text.resize(static_cast<std::size_t>(n) + 1);
            std::vsnprintf(text.data(), text.size(), format, args);
            text.resize(static_cast<std::size_t>(n));
        }
    }
    return vokDoMessage(owner, type, title, text.c_str());
}

int vokDoMessageFmt(VokWnd owner, int type, const char* title, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vokDoMessageVFmt(owner, type, title, format, args);
    va_end(args);
    return result;
}
