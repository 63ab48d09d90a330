#include "app/message.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdarg>

ZAV_EXPORT int vokDoMessageFmtEx(VokWnd window, int type, int titleId, int textId, ...) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    char title[zav::kStringBufferSize] = "";
    char text[zav::kStringBufferSize] = "";
    if (LoadStringA(module, static_cast<UINT>(titleId), title, sizeof title) <= 0)
        title[0] = '\0';
    if (LoadStringA(module, static_cast<UINT>(textId), text, sizeof text) <= 0)
        text[0] = '\0';
    va_list args;
    va_start(args, textId);
    int result = vokDoMessageVFmt(window, type, title, text, args);
    va_end(args);
    return result;
}
