// The Epson 9-pin printer model: everything an Epson 9-pin ESC/P printer of
// the FX and LX series puts on paper, sheet by sheet.
//
// The raster grid is the printer's own: 1/240 inch across (the step of
// quadruple-density graphics) and 1/216 inch down (the step of ESC "J").
// A sheet is as wide as the printer's 8-inch line (80 characters at 10 per
// inch) and as long as the page length (ESC "C", 11 inches at power-on).
//
// A printed dot is a block of 4 grid columns by 3 rows: 1/60 by 1/72 inch,
// about the size of the pin's dot on paper. At single density, dots 1/60 inch
// apart touch and join into a line as they do on paper; at higher densities
// they overlap, and the 1/72-inch pin rows join down the column. The 5x7
// font keeps its cell: 6 columns 1/60 inch apart, 8 pins, 1/10 inch wide
// and 1/9 inch tall at pica.
//
// Where the printers of the series differ, this model follows the FX: the
// comments in epson9.cpp say where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "render/page_bitmap.h"
#include "render/text_sink.h"

namespace zav::epson9 {

inline constexpr int kDotsPerInch = 240; // across
inline constexpr int kRowsPerInch = 216; // down
inline constexpr int kSheetWidth = 8 * kDotsPerInch;
inline constexpr int kDefaultPageLength = 11 * kRowsPerInch;
// 240 and 216 dots per inch in dots per metre, for the bitmap header.
inline constexpr BitmapResolution kSheetResolution{9449, 8504};
inline constexpr int kDotWidth = 4;  // 1/60 inch
inline constexpr int kDotHeight = 3; // 1/72 inch, one pin
// Bytes from one row of a sheet image to the next: the sheet's 240 bytes and
// room to the right for the part of a dot that a character at the right
// margin leaves beyond the paper, which is never written out.
inline constexpr std::size_t kRowStride = kSheetWidth / 8 + 16;

// A finished sheet: `height` rows of kSheetWidth dots, top row first, each
// kRowStride bytes apart, 1 a dot (null when the printer keeps no dots).
// `rowHasDots[r]` is 0 for a blank row; the rows from `endOfPrint` on are
// blank too (the sheet ended above them). `text`: the characters printed on
// it, when the printer keeps its words, in the sheet's dots and rows, in the
// order they were printed.
struct SheetImage {
    const std::uint8_t* rows = nullptr;
    const std::uint8_t* rowHasDots = nullptr;
    std::uint32_t height = 0;
    std::uint32_t endOfPrint = 0;
    std::span<const TextRun> text;
};

// Receives each sheet that has a dot on it, when the paper has left it.
// Returning false stops the drawing.
class SheetSink {
  public:
    virtual ~SheetSink() = default;
    virtual bool Sheet(const SheetImage& sheet) = 0;
};

// What a command did, for the page splitter.
enum PrinterEvent : unsigned {
    kSheetEnded = 1, // the paper left a sheet that had a dot on it
    kFirstDot = 2,   // the first dot came onto the sheet under the head
};

// What a printer with a sink keeps of each sheet for it.
enum PrinterOutput : unsigned {
    kKeepDots = 1,  // the sheet image
    kKeepWords = 2, // the characters printed on it (SheetImage::text)
};

// The printer: reads a printer stream of any length in pieces of any size
// and draws it sheet by sheet into one sheet image, which it hands to the
// sink when the paper leaves it. Without a sink it draws nothing and keeps
// no image, but follows the paper and knows which sheets get dots exactly as
// when it draws. Every command is read with its exact argument length, so no
// data byte is ever read as a character or a command.
//
// The words of a sheet are its characters as printed: a run of cells for
// each stretch printed alike, the code points of the character table and
// international set they were printed from (a user-defined character is
// U+FFFD; a blank cell, a space or a code that prints nothing, is U+0020).
// Control codes and bit images give none. A character belongs to the sheet
// that the middle of its cell lies on: a line printed across a sheet's end
// is the next sheet's words when most of it is there.
class Printer {
  public:
    explicit Printer(SheetSink* sink = nullptr, unsigned output = kKeepDots);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;
    // Back to the power-on state, user-defined characters and all, with a
    // blank sheet; the memory already had is kept for it.
    void Reset();

    // Reads the next bytes of the stream; returns how many it took: all of
    // them, or fewer when a command just read had an event (TakeEvents).
    std::size_t Read(std::span<const std::uint8_t> bytes);
    // The events since the last call, as PrinterEvent bits.
    unsigned TakeEvents();
    // True when the sheet under the head has a dot on it.
    bool SheetHasDots() const;

    // The end of one capture file. When no sheet was handed on since the
    // last call, the sheet under the head is handed on as it is (a file that
    // prints nothing gives one blank sheet) and a new sheet begins. The
    // printer's settings stay: a page file of a capture that follows
    // continues with them, and a sheet that the next page file's bytes
    // began stays for it.
    void EndOfFile();
    // The end of the printout: every sheet with a dot on it is handed on,
    // also what a line printed across the last sheet's end put on the next.
    void Finish();
    // False once the sink refused a sheet or the sheet image could not be had.
    bool Ok() const;
    // Hands sheets to the sink again after it refused one (not after a lack
    // of memory): for the next capture file.
    void Resume();
    bool OutOfMemory() const;
    // Sheets handed to the sink so far.
    std::uint64_t SheetsPrinted() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Page mode's cutting rule for this model: fed a recording in order, it
// tells where each page ends. A page ends where the paper leaves a sheet
// that has dots on it, after the command that moved the paper, so that no
// sequence is ever cut. What follows that prints nothing (a form feed, a
// reset) stays with the page before unless a dot comes after it; then the
// next page begins right after the sheet's end. So every page file holds
// one printed sheet, read with the settings the pages before left; more
// only when one command ends several (a line feed longer than the sheet
// after a line printed across its end), as no command is cut.
class PageCuts {
  public:
    // Reads the next bytes; returns how many it took (at least one).
    std::size_t Read(std::span<const std::uint8_t> bytes);
    // Every byte before this offset (from the start of the recording)
    // belongs to the current page or one before it.
    std::uint64_t Settled() const { return pending_ ? pendingCut_ : read_; }
    // The end of the next page, once known; in order, each once. Take every
    // cut after each Read.
    bool TakeCut(std::uint64_t& offset);
    // Back to the start of a recording.
    void Reset();

  private:
    Printer printer_;
    std::uint64_t read_ = 0;
    bool pending_ = false; // a sheet ended and no dot came after it yet
    std::uint64_t pendingCut_ = 0;
    std::uint64_t cuts_[2] = {};
    int cutCount_ = 0;
};

} // namespace zav::epson9
