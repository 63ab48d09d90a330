// Printer stream renderer: one capture file (the raw ESC/P bytes of one printout
// or page) becomes one 1-bit page bitmap beside it, "name.cpt" -> "name.bmp".
//
// The work is done on the capture's bytes in memory, in three stages:
//  1. SplitPrinterItems cuts the bytes into text lines and the other items
//     (line and form feeds, escape sequences), as the printer reads them;
//  2. MeasurePage runs through those items once without drawing a dot and
//     learns the page's width and height; RenderBands then draws them band by
//     band and hands each finished row, top row first, to a RowSink;
//  3. BottomUpBitmap (page_bitmap.h) is the RowSink that puts every row at its
//     final place in the bottom-up bitmap file.
// The same pass that draws the page tells a TextSink (text_sink.h) where each
// character it draws lies. Nothing but the page bitmap is written to disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/output_file.h"

namespace zav {

class BlockOutput;
class OutputFile;
struct PageGeometry;
struct SystemError;
class TextSink;

// Results of RenderCaptureFile.
enum RenderResult : int {
    kRenderOk = 0,
    kRenderCannotOpen = -1,        // capture file cannot be opened for reading
    kRenderNoMemory = -2,          // no memory for the capture file's content
    kRenderCannotRead = -3,        // capture file unreadable or empty, or nothing in it to print
    kRenderCannotCreate = -4,      // the page bitmap cannot be created or written
    kRenderPathTooLong = -5,       // a derived file name does not fit the name buffer
    kRenderNameClash = -6,         // the capture file is its own page bitmap
    kRenderPageTooLong = -7,       // the page is longer than a bitmap file can hold
    kRenderNoMemoryForStream = -12 // no memory for the band and the row buffer
};

// Renders the capture file at `path` into its page bitmap. Synchronous; every
// file it opens is closed before it returns. The bitmap replaces an earlier
// one of its name only once it is whole; on failure no file it made is left
// behind and the earlier bitmap stays, and `error` (may be null) receives the
// system's reason when it gave one. Safe to call from one thread at a time
// per output file. `copy` (may be null) is handed every block of the bitmap
// file too (at the same offsets), so that a caller can use the page without
// reading it back; only a kRenderOk result makes the copy a whole bitmap
// file, and what the copy does with a block never fails the bitmap. `text`
// (may be null) is told the page's characters as they are drawn; what it
// received stands for the page only when the result is kRenderOk.
RenderResult RenderCaptureFile(const char* path, BlockOutput* copy = nullptr,
                               TextSink* text = nullptr, SystemError* error = nullptr);
// Renders the capture file at `path` into `bitmap`, which the caller puts in
// place (or abandons). `copy` and `text` (each may be null) as above; `page`
// (may be null) receives the page's size, also when nothing was printed on it.
RenderResult RenderCaptureFileTo(const char* path, OutputFile& bitmap, BlockOutput* copy,
                                 PageGeometry* page, TextSink* text = nullptr);
// The same, the page drawn in memory and written to `bitmap` at once:
// `bytes` receives the bitmap file's bytes, which the caller may hand on to
// other readers (the file's observer keeps them without a copy). A bitmap of
// more than `maxInMemory` bytes, or one no memory can be had for, is written
// block by block instead, and `bytes` stays null.
RenderResult RenderCaptureFileShared(const char* path, OutputFile& bitmap, SharedBytes& bytes,
                                     std::size_t maxInMemory, PageGeometry* page,
                                     TextSink* text = nullptr);

// The characters of the capture file at `path` without drawing the page:
// what rendering it would tell `text`. Returns kRenderOk, kRenderCannotOpen,
// kRenderNoMemory or kRenderCannotRead.
RenderResult ReadCaptureText(const char* path, TextSink& text);

// Plain-words text of a RenderResult, for messages to the user.
const char* RenderResultText(int result);

// Longest text line kept in one bit-image line; the next character starts a
// new text line, as a printer wraps at its right margin.
inline constexpr std::size_t kMaxTextLineChars = 340;

// Rows of the print head's band: one bit-image column byte covers them.
inline constexpr int kBandRows = 8;

// Length in bytes of the escape sequence that starts with the ESC at
// data[pos], arguments and bit-image data included. Counts what the sequence
// needs, so for a sequence cut off by the end of the data it can reach past
// data.size(); a bit image whose count bytes are missing counts as 4.
std::size_t EscapeSequenceLength(std::span<const std::uint8_t> data, std::size_t pos);

// What stage 1 finds in the capture, in order. Returning false stops it.
class ItemSink {
  public:
    virtual ~ItemSink() = default;
    // A text line of 1 to kMaxTextLineChars character codes (20..FF), CR
    // removed. The printer follows it with the items LF and ESC "J" 12.
    virtual bool TextLine(std::span<const std::uint8_t> chars) = 0;
    // LF, FF, CR or one escape sequence with its arguments and data, as the
    // capture holds it; a sequence cut off by the end of the data is passed
    // with the part that arrived.
    virtual bool Item(std::span<const std::uint8_t> bytes) = 0;
};

// Stage 1: reads the capture bytes item by item. A text line runs from a byte
// 20 or higher up to the next control byte other than CR, which ends it and is
// dropped; text that the data leaves unended is not printed. Other control
// bytes between items mean nothing and are skipped. Returns false when the
// sink stopped it.
bool SplitPrinterItems(std::span<const std::uint8_t> capture, ItemSink& sink);

// The graphics stream of a capture: every text line replaced by the bit-image
// line that draws it with the built-in font (ESC "K", its glyph columns, LF,
// ESC "J" 12), every other item copied. Appends it to `out` and returns the
// widest line in dots. Rendering the stream gives the same page as rendering
// the capture.
std::int32_t ConvertTextLines(std::span<const std::uint8_t> capture,
                              std::vector<std::uint8_t>& out);

// Raster width in dots for the widest line: a multiple of 32.
inline std::uint32_t RasterWidthFor(std::int32_t widestLine) {
    return (static_cast<std::uint32_t>(widestLine) + 31u) & ~31u;
}

// Size of a page, learnt without drawing it.
struct PageGeometry {
    std::int32_t widest = 0;       // widest text line or bit image, dots
    std::uint32_t rasterWidth = 0; // widest rounded up to a multiple of 32
    std::uint64_t rows = 0;        // rows the page's feeds write
    std::uint64_t streamBytes = 0; // length of its graphics stream; 0: nothing to print

    std::uint32_t RowBytes() const { return rasterWidth / 8; }
};

// First pass of stage 2: the page's width and height. Cheap: no dot is drawn.
PageGeometry MeasurePage(std::span<const std::uint8_t> capture);

// kRenderOk when the page can be drawn into a bitmap file, kRenderCannotRead
// when there is nothing to print, kRenderPageTooLong when its height or its
// size do not fit the 32-bit fields of the bitmap header.
RenderResult CheckPage(const PageGeometry& page);

// Receives the raster rows of a page, top row first, RowBytes() bytes each.
// Returning false stops the rendering.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual bool Row(const std::uint8_t* row) = 0;
    virtual bool BlankRows(std::uint64_t count) = 0;
};

// Bytes of band memory that RenderBands needs for a raster width.
inline std::size_t BandBytesFor(std::uint32_t rasterWidth) {
    return static_cast<std::size_t>(kBandRows) * (rasterWidth / 8);
}

// Second pass of stage 2: draws the capture into an 8-row band (`band`,
// BandBytesFor(rasterWidth) bytes, all zero) and hands every row to `rows` as
// the paper moves it past the head. Bit images are drawn eight columns at a
// time. Dots still in the band when the data ends never reach the page.
// Returns false when `rows` refused a row. `text` (may be null) is told every
// text line as it is drawn.
bool RenderBands(std::span<const std::uint8_t> capture, std::uint32_t rasterWidth,
                 std::span<std::uint8_t> band, RowSink& rows, TextSink* text = nullptr);

// The text lines of a capture as RenderBands tells them, without drawing.
void ReadPageText(std::span<const std::uint8_t> capture, TextSink& text);

// The whole renderer on bytes in memory for a page that CheckPage accepted:
// draws it and writes its bitmap file to `out`. Returns kRenderOk,
// kRenderNoMemoryForStream when the band and the row buffer cannot be had, or
// kRenderCannotCreate when `out` fails.
RenderResult WritePageBitmap(std::span<const std::uint8_t> capture, const PageGeometry& page,
                             BlockOutput& out, TextSink* text = nullptr);

} // namespace zav
