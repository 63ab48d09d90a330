// Printer stream renderer: one capture file (the raw ESC/P bytes of one printout
// or page) becomes one 1-bit page bitmap beside it, "name.cpt" -> "name.bmp".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace zav {

// Results of RenderCaptureFile.
enum RenderResult : int {
    kRenderOk = 0,
    kRenderCannotOpen = -1,        // capture file cannot be opened for reading
    kRenderNoMemory = -2,          // no memory for the capture file's content
    kRenderCannotRead = -3,        // capture file or graphics stream unreadable or empty
    kRenderCannotCreate = -4,      // a work file or the page bitmap cannot be created
    kRenderPathTooLong = -5,       // a derived file name does not fit the name buffer
    kRenderNameClash = -6,         // the capture file is itself a work file or the bitmap
    kRenderCannotReopen = -11,     // the graphics stream's work file cannot be reopened
    kRenderNoMemoryForStream = -12 // no memory for the graphics stream
};

// Renders the capture file at `path` into its page bitmap. Synchronous; every
// file it opens is closed before it returns. Safe to call from one thread at a
// time per output file.
int RenderCaptureFile(const char* path);

// Plain-words text of a RenderResult, for messages to the user.
const char* RenderResultText(int result);

// Longest text line kept in one bit-image line; the next character starts a
// new text line, as a printer wraps at its right margin.
inline constexpr std::size_t kMaxTextLineChars = 340;

// Length in bytes of the escape sequence that starts with the ESC at
// data[pos], arguments and bit-image data included. Counts what the sequence
// needs, so for a sequence cut off by the end of the data it can reach past
// data.size(); a bit image whose count bytes are missing counts as 4.
std::size_t EscapeSequenceLength(std::span<const std::uint8_t> data, std::size_t pos);

// Stage 1: replaces every text line of the capture bytes by a bit-image line
// drawn with the built-in font and appends the resulting graphics stream to
// `out`. Returns the widest line in dots (text lines and bit images).
std::int32_t ConvertTextLines(std::span<const std::uint8_t> capture,
                              std::vector<std::uint8_t>& out);

// Raster width in dots for the widest line: a multiple of 32.
inline std::uint32_t RasterWidthFor(std::int32_t widestLine) {
    return (static_cast<std::uint32_t>(widestLine) + 31u) & ~31u;
}

// Stage 2: interprets the graphics stream into raster rows of rasterWidth / 8
// bytes and appends them, top row first, to `rowFile`, holding only one 8-row
// band at a time. `rows` receives the number of rows written. Returns false
// when a row cannot be written (or the page grows past what a BMP can hold).
bool RenderGraphicsStream(std::span<const std::uint8_t> stream, std::uint32_t rasterWidth,
                          std::FILE* rowFile, std::uint32_t& rows);

} // namespace zav
