// File-name rules shared by the renderer, the page splitter and the report.
//
// Every file of one capture derives from one path; the folder part ends at the
// last separator. On POSIX only '/' separates folders. On Windows both '\' and
// '/' do, as Windows itself accepts both. Names are built in buffers of
// kPathBufferSize bytes (terminator included): a name that does not fit is
// refused by the caller, never cut short into another file's name.
#pragma once

#include <cstddef>
#include <string_view>

namespace zav {

inline constexpr std::size_t kPathBufferSize = 1024;

enum class PathStyle { Posix, Windows };

#ifdef _WIN32
inline constexpr PathStyle kHostPathStyle = PathStyle::Windows;
inline constexpr char kPreferredSeparator = '\\';
#else
inline constexpr PathStyle kHostPathStyle = PathStyle::Posix;
inline constexpr char kPreferredSeparator = '/';
#endif

constexpr bool IsPathSeparator(char c, PathStyle style = kHostPathStyle) {
    return c == '/' || (style == PathStyle::Windows && c == '\\');
}

// Offset of the file-name part: just after the last separator, or 0.
constexpr std::size_t FileNameOffset(std::string_view path, PathStyle style = kHostPathStyle) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsPathSeparator(path[i - 1], style))
            return i;
    }
    return 0;
}

// Writes `path` with its extension replaced by `extension` into `out`
// (outSize bytes, terminator included). The file-name part starts after the
// last separator of `style`; everything after its last '.' is replaced, or
// "." and the extension are appended when it has none. Returns false, leaving
// `out` empty, when the name does not fit.
bool ReplaceExtension(std::string_view path, std::string_view extension, char* out,
                      std::size_t outSize = kPathBufferSize, PathStyle style = kHostPathStyle);

// The page bitmap of sheet `sheet` (1, 2, ...) of the capture file
// `capturePath`: "FILE.bmp" (ReplaceExtension's name) for the first,
// "FILE-2.bmp", "FILE-3.bmp", ... for the others, as the Epson 9-pin model
// writes one per sheet of paper. Every name of a page bitmap is made here.
// Returns false, leaving `out` empty, when it does not fit.
bool SheetBitmapName(std::string_view capturePath, unsigned sheet, char* out,
                     std::size_t outSize = kPathBufferSize, PathStyle style = kHostPathStyle);

} // namespace zav
