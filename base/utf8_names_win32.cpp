#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "base/utf8_names.h"

namespace zav {

std::wstring WideOf(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8OfWide(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::wstring WideFileName(std::string_view utf8) {
    std::wstring wide = WideOf(utf8);
    // MAX_PATH less room for the 8.3 name the folder calls need.
    if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    if (wide.rfind(L"\\\\.\\", 0) == 0)
        return wide; // a device
    // The long form takes no "." or ".." nor a relative name: make it whole first.
    std::wstring whole(wide.size() + MAX_PATH, L'\0');
    const DWORD got =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(whole.size()), whole.data(), nullptr);
    if (got == 0 || got >= whole.size())
        return wide;
    whole.resize(got);
    return whole.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + whole.substr(2) : L"\\\\?\\" + whole;
}

std::string Utf8OfAnsi(std::string_view ansi) {
    const int size = static_cast<int>(ansi.size());
    const int length =
        ansi.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), length);
    return Utf8OfWide(wide);
}

std::string AnsiOfUtf8(std::string_view utf8) {
    const std::wstring wide = WideOf(utf8);
    const int size = static_cast<int>(wide.size());
    const int length = wide.empty() ? 0
                                    : WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0,
                                                          nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), length, nullptr, nullptr);
    return ansi;
}

std::string WholePath(std::string_view utf8) {
    const std::wstring wide = WideOf(utf8);
    std::wstring whole(wide.size() + MAX_PATH, L'\0');
    const DWORD got =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(whole.size()), whole.data(), nullptr);
    if (wide.empty() || got == 0 || got >= whole.size())
        return {};
    whole.resize(got);
    return Utf8OfWide(whole);
}

std::filesystem::path PathOf(std::string_view utf8) {
    return std::filesystem::path(WideOf(utf8));
}

std::string Utf8Of(const std::filesystem::path& path) {
    return Utf8OfWide(path.native());
}

} // namespace zav
