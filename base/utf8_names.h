// File names are UTF-8 text everywhere in the program. Windows keeps names
// as UTF-16 and reads a narrow name in the ANSI code page, where "Prüfung"
// or "Μετρήσεις" would become other names or none: every name handed to the
// system goes through here, converted once, and the command line arrives
// converted (cli). On POSIX a name is its bytes and nothing is converted.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zav {

// The std::filesystem path of a UTF-8 name.
std::filesystem::path PathOf(std::string_view utf8);
// The UTF-8 name of a path.
std::string Utf8Of(const std::filesystem::path& path);

// The whole name of a file or folder from the current folder on, without
// "." and ".."; a network share (\\server\share\lab) stays one, which
// std::filesystem::absolute of MinGW would put on the current drive. Empty
// when there is none.
std::string WholePath(std::string_view utf8);

#ifdef _WIN32
// UTF-8 to UTF-16 and back; bytes that are no UTF-8 become U+FFFD.
std::wstring WideOf(std::string_view utf8);
std::string Utf8OfWide(std::wstring_view wide);
// The wide name of a file for the Win32 calls: an absolute name longer than
// those calls take as it is gets the "\\?\" form (and "\\?\UNC\" for a
// network share), so that a name the program accepts is never refused by
// the system for its length.
std::wstring WideFileName(std::string_view utf8);
// The Windows program's texts are in the ANSI code page (its dialogs, its
// settings, its command line): converted where they meet the core's names.
std::string Utf8OfAnsi(std::string_view ansi);
std::string AnsiOfUtf8(std::string_view utf8);
#endif

} // namespace zav
