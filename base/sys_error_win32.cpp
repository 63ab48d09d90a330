#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "base/sys_error.h"
#include "base/utf8_names.h"

namespace zav {

SystemError Win32Error(unsigned long code) {
    if (code == 0)
        return {};
    // Wide, so that the text of a system in any language comes out right (UTF-8).
    wchar_t text[512] = L"";
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, 512, nullptr);
    if (length == 0)
        length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, 512, nullptr);
    // The system's texts end with a full stop and a line break.
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.'))
        --length;
    SystemError error{static_cast<int>(code), Utf8OfWide(std::wstring_view(text, length))};
    if (error.text.empty())
        error.text = "system error " + std::to_string(code);
    return error;
}

SystemError LastWin32Error() {
    return Win32Error(GetLastError());
}

} // namespace zav
