#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "base/sys_error.h"

namespace zav {

SystemError Win32Error(unsigned long code) {
    if (code == 0)
        return {};
    char text[512] = "";
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    if (length == 0)
        length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
    // The system's texts end with a full stop and a line break.
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    SystemError error{static_cast<int>(code), std::string(text, length)};
    if (error.text.empty())
        error.text = "system error " + std::to_string(code);
    return error;
}

SystemError LastWin32Error() {
    return Win32Error(GetLastError());
}

} // namespace zav
