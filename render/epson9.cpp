#include "render/epson9.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "render/epson9_font.h"

namespace zav::epson9 {

namespace {

constexpr std::uint8_t kBS = 0x08;
constexpr std::uint8_t kHT = 0x09;
constexpr std::uint8_t kLF = 0x0A;
constexpr std::uint8_t kVT = 0x0B;
constexpr std::uint8_t kFF = 0x0C;
constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kSO = 0x0E;
constexpr std::uint8_t kSI = 0x0F;
constexpr std::uint8_t kDC2 = 0x12;
constexpr std::uint8_t kDC4 = 0x14;
constexpr std::uint8_t kESC = 0x1B;
constexpr std::uint8_t kDEL = 0x7F;

// Rows below the sheet's end that a line printed near it may reach (a
// double-height line reaches 55 rows below its top); they come onto the top
// of the next sheet, as on continuous paper.
constexpr int kOverflowRows = 64;
constexpr int kImageRows = 64;

// Character advance in grid columns: pica 10, elite 12, condensed 17.14
// characters per inch (the FX's 137 condensed characters on the 8-inch line).
constexpr int kPica = 24;
constexpr int kElite = 20;
constexpr int kCondensed = 14;
constexpr int kInitialLineSpacing = 36; // 1/6 inch
constexpr int kPinPitch = 3;            // rows from one pin to the next
constexpr int kFarRight = 1 << 24;      // beyond any margin

// Dots per inch of the graphics densities, ESC "*" m = 0..6: single,
// double, double at double speed, quadruple, CRT I, plotter (1:1), CRT II.
constexpr int kDensity[7] = {60, 120, 120, 240, 80, 72, 90};

// Italics lean the character over by shifting each pin row to the right:
// the top pin by a quarter of the cell, the baseline not at all.
constexpr int kItalicSlant[9] = {6, 5, 4, 3, 3, 2, 1, 0, 0};

// Bits [offset, offset + width) of a row word, the first grid column in the
// top bit.
constexpr std::uint64_t Span(int offset, int width) {
    if (offset >= 64 || width <= 0)
        return 0;
    const std::uint64_t run = width >= 64 ? ~0ull : ~(~0ull >> width);
    return run >> offset;
}

// ORs a row word into a raster row at grid column x: nine bytes at most.
inline void OrWord(std::uint8_t* row, int x, std::uint64_t bits) {
    std::uint8_t* p = row + (x >> 3);
    const int shift = x & 7;
    std::uint64_t high = bits >> shift;
    if constexpr (std::endian::native == std::endian::little) {
#if defined(_MSC_VER) && !defined(__clang__)
        high = _byteswap_uint64(high);
#else
        high = __builtin_bswap64(high);
#endif
    }
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    word |= high;
    std::memcpy(p, &word, 8);
    if (shift)
        p[8] |= static_cast<std::uint8_t>(bits << (8 - shift));
}

// One dot, 4 grid columns wide, into a raster row.
inline void OrDot(std::uint8_t* row, int x) {
    std::uint8_t* p = row + (x >> 3);
    const int shift = x & 7;
    p[0] |= static_cast<std::uint8_t>(0xF0 >> shift);
    if (shift > 4)
        p[1] |= static_cast<std::uint8_t>(0xF0 << (8 - shift));
}

// A character as the head prints it in the current type style: row words
// from the line's top pin down, x offsets from the character's left edge.
struct CharImage {
    bool built = false;
    std::uint8_t rows = 0; // rows down to the last one with a dot
    std::array<std::uint64_t, kImageRows> bits;
};

// What ESC "@" sets back (the user-defined characters stay).
struct Settings {
    int leftMargin = 0;
    int rightMargin = kSheetWidth;
    int lineSpacing = kInitialLineSpacing;
    int pageLength = kDefaultPageLength;
    int skip = 0; // skip-over-perforation, rows; 0: none
    std::array<int, 32> hTabs{};
    int hTabCount = 0;
    std::array<int, 16> vTabs{};
    int vTabCount = 0;
    bool elite = false;
    bool condensed = false;
    bool emphasized = false;
    bool doubleStrike = false;
    bool wide = false;     // ESC "W"
    bool wideLine = false; // SO: until the end of the line
    bool doubleHeight = false;
    bool underline = false;
    bool italic = false;
    int script = 0; // 1 superscript, 2 subscript
    int national = 0;
    // Characters 80 to FF: the graphics table (code page 437), as the
    // printers for PCs are set at power-on, or the italic table (ESC "t" 0).
    bool italicTable = false;
    // 80 to 9F act as the control codes 00 to 1F until ESC "6" (the FX's
    // power-on state, which ESC "7" brings back).
    bool upperControl = true;
    bool userSet = false;
    bool nlq = false;
    std::array<std::uint8_t, 4> graphicsMode{0, 1, 2, 3}; // ESC K, L, Y, Z

    Settings() {
        // Tab stops every 8 characters at pica.
        for (int i = 0; i < 32; ++i)
            hTabs[i] = (i + 1) * 8 * kPica;
        hTabCount = 32;
    }
};

enum class Phase {
    Idle,     // text and control codes
    Escape,   // ESC came: the command byte is next
    Args,     // the command's fixed arguments
    Graphics, // bit-image data
    Skip,     // data that is read and has no effect
    Tabs,     // a tab list of ESC "D", "B" or "b", ended by NUL
    UserChars // the definitions of ESC "&"
};

} // namespace

// The words printed on the sheet under the head and below its end, rows
// from the sheet's top: runs of cells printed alike, side by side.
struct SheetWords {
    struct Run {
        int row;
        int x;
        int pitch;
        int height;
        std::uint32_t first; // in chars
        std::uint32_t count;
    };
    std::vector<Run> runs;
    std::vector<char32_t> chars;
    std::vector<TextRun> told; // what a sheet's sink is told

    void Add(int row, int x, int pitch, int height, char32_t c) {
        if (!runs.empty()) {
            Run& last = runs.back();
            if (last.row == row && last.pitch == pitch && last.height == height &&
                last.first + last.count == chars.size() &&
                x == last.x + static_cast<int>(last.count) * pitch) {
                chars.push_back(c);
                ++last.count;
                return;
            }
        }
        runs.push_back({row, x, pitch, height, static_cast<std::uint32_t>(chars.size()), 1});
        chars.push_back(c);
    }

    // The row a run counts on: the middle of its cells.
    static int Middle(const Run& run) { return run.row + run.height / 2; }

    // The runs of the rows above `end`, as a sheet's sink is told them.
    std::span<const TextRun> Above(int end) {
        told.clear();
        for (const Run& run : runs) {
            if (Middle(run) < end)
                told.push_back({static_cast<std::uint64_t>(std::max(0, run.row)),
                                run.x,
                                run.pitch,
                                run.height,
                                {chars.data() + run.first, run.count}});
        }
        return told;
    }

    // The rows from `by` on move up to the top; the runs above it go.
    void ShiftUp(int by) {
        std::size_t kept = 0;
        std::uint32_t keptChars = 0;
        for (const Run& run : runs) {
            if (Middle(run) < by)
                continue;
            Run moved = run;
            moved.row -= by;
            if (moved.first != keptChars)
                std::memmove(chars.data() + keptChars, chars.data() + run.first,
                             run.count * sizeof(char32_t));
            moved.first = keptChars;
            keptChars += run.count;
            runs[kept++] = moved;
        }
        runs.resize(kept);
        chars.resize(keptChars);
    }

    void Clear() {
        runs.clear();
        chars.clear();
    }
};

struct Printer::Impl {
    SheetSink* sink;
    bool draw;      // keeps the sheet image
    bool keepWords; // and its words
    Settings s;
    // User-defined characters: ESC "@" keeps them, ESC ":" drops them.
    std::array<Glyph, 256> user{};
    std::array<bool, 256> userDefined{};

    // The reader.
    Phase phase = Phase::Idle;
    std::uint8_t command = 0;
    std::array<std::uint8_t, 4> args{};
    int argsNeeded = 0;
    int argsHave = 0;
    std::uint64_t remaining = 0; // bytes of data still to come
    // Graphics.
    int density = 60;
    bool adjacentRule = false; // no two dots side by side in a row
    bool ninePins = false;     // ESC "^": two bytes a column
    bool hasFirstByte = false;
    std::uint8_t firstByte = 0;
    std::uint32_t column = 0;
    int graphicsX = 0;
    std::uint8_t lastColumn = 0;
    // Tab lists.
    int tabTarget = 0; // 'D', 'B', or 0 for a list without effect
    int tabCount = 0;
    int tabLast = 0;
    std::array<int, 32> tabs{};
    // User-defined characters being read.
    int userCode = 0;
    int userLast = 0;
    int userByte = 0;
    std::array<std::uint8_t, 12> userData{};
    int nlqDataLeft = 0;

    // The head and the paper.
    int x = 0;
    int y = 0; // rows below the top of the sheet
    std::vector<std::uint8_t> rowHasDots;
    std::unique_ptr<std::uint8_t[]> pixels; // drawing only
    std::size_t pixelRows = 0;
    bool sheetHasDots = false;
    unsigned events = 0;
    bool stop = false;
    std::uint64_t printed = 0;
    std::uint64_t printedInFile = 0;
    bool ok = true;
    bool outOfMemory = false;

    // The characters as the current type style prints them, on the heap:
    // the printer may run on a thread with a small stack.
    std::unique_ptr<CharImage[]> images;
    SheetWords words;

    explicit Impl(SheetSink* sheetSink, unsigned output)
        : sink(sheetSink), draw(sheetSink && (output & kKeepDots)),
          keepWords(sheetSink && (output & kKeepWords)), images(new CharImage[256]) {
        rowHasDots.assign(static_cast<std::size_t>(Rows()), 0);
        NewPageLength();
    }

    // A printer at power-on that takes over the blocks of `old`, blank.
    explicit Impl(Impl& old)
        : sink(old.sink), draw(old.draw), keepWords(old.keepWords), pixels(std::move(old.pixels)),
          pixelRows(old.pixelRows), images(std::move(old.images)), words(std::move(old.words)) {
        words.Clear();
        if (pixels) {
            const int end = static_cast<int>(std::min(old.rowHasDots.size(), pixelRows));
            for (int r = old.NextRowWithDots(0, end); r < end; r = old.NextRowWithDots(r + 1, end))
                std::memset(Row(r), 0, kRowStride);
        }
        rowHasDots.assign(static_cast<std::size_t>(Rows()), 0);
        StyleChanged();
        NewPageLength();
    }

    int Rows() const { return s.pageLength + kOverflowRows; }

    // The first row of [from, end) with a dot, or `end`.
    int NextRowWithDots(int from, int end) const {
        if (from >= end)
            return end;
        const void* at =
            std::memchr(rowHasDots.data() + from, 1, static_cast<std::size_t>(end - from));
        return at ? static_cast<int>(static_cast<const std::uint8_t*>(at) - rowHasDots.data())
                  : end;
    }
    bool AnyDots(int from, int end) const { return NextRowWithDots(from, end) < end; }
    std::uint8_t* Row(int r) { return pixels.get() + static_cast<std::size_t>(r) * kRowStride; }

    // --- The sheet -------------------------------------------------------

    // Sizes the sheet for the page length, keeping what is on it.
    void NewPageLength() {
        const std::size_t need = static_cast<std::size_t>(Rows());
        for (std::size_t r = need; r < rowHasDots.size(); ++r)
            ClearRow(static_cast<int>(r));
        rowHasDots.resize(need, 0);
        if (draw && ok && need > pixelRows) {
            std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow)
                                                      std::uint8_t[need * kRowStride]);
            if (!grown) {
                ok = false;
                outOfMemory = true;
                pixels.reset();
                pixelRows = 0;
            } else {
                if (pixels)
                    std::memcpy(grown.get(), pixels.get(), pixelRows * kRowStride);
                std::memset(grown.get() + pixelRows * kRowStride, 0,
                            (need - pixelRows) * kRowStride);
                pixels = std::move(grown);
                pixelRows = need;
            }
        }
        CountDots();
    }

    // Whether the sheet has a dot above its end; a dot arriving makes an event.
    void CountDots() {
        const bool had = sheetHasDots;
        sheetHasDots = AnyDots(0, s.pageLength);
        if (sheetHasDots && !had)
            Event(kFirstDot);
    }

    void MarkRow(int r) {
        if (rowHasDots[static_cast<std::size_t>(r)])
            return;
        rowHasDots[static_cast<std::size_t>(r)] = 1;
        if (r < s.pageLength && !sheetHasDots) {
            sheetHasDots = true;
            Event(kFirstDot);
        }
    }

    void Event(unsigned what) {
        events |= what;
        stop = true;
    }

    // Hands the sheet on; its rows from `endOfPrint` on count as blank.
    void Emit(int endOfPrint = -1) {
        ++printed;
        ++printedInFile;
        if (sink && ok) {
            SheetImage sheet;
            sheet.rows = pixels.get();
            sheet.rowHasDots = rowHasDots.data();
            sheet.height = static_cast<std::uint32_t>(s.pageLength);
            sheet.endOfPrint =
                endOfPrint < 0 ? sheet.height : static_cast<std::uint32_t>(endOfPrint);
            if (keepWords)
                sheet.text = words.Above(static_cast<int>(sheet.endOfPrint));
            if (!sink->Sheet(sheet))
                ok = false;
        }
    }

    void ClearRow(int r) {
        if (!rowHasDots[static_cast<std::size_t>(r)])
            return;
        rowHasDots[static_cast<std::size_t>(r)] = 0;
        if (pixels)
            std::memset(Row(r), 0, kRowStride);
    }

    // The rows from `by` on move up to the top; the rows above it go.
    void ShiftUp(int by) {
        const int rows = Rows();
        const int above = std::min(by, rows);
        for (int r = NextRowWithDots(0, above); r < above; r = NextRowWithDots(r + 1, above))
            ClearRow(r);
        for (int from = NextRowWithDots(by, rows); from < rows;
             from = NextRowWithDots(from + 1, rows)) {
            const int to = from - by;
            if (pixels) {
                std::memcpy(Row(to), Row(from), kRowStride);
                std::memset(Row(from), 0, kRowStride);
            }
            rowHasDots[static_cast<std::size_t>(from)] = 0;
            rowHasDots[static_cast<std::size_t>(to)] = 1;
        }
        if (keepWords)
            words.ShiftUp(by);
        sheetHasDots = false;
        CountDots();
    }

    // The paper leaves the sheet: what was printed below its end comes onto
    // the top of the next one.
    void EndSheet() {
        if (sheetHasDots) {
            Emit();
            Event(kSheetEnded);
        }
        ShiftUp(s.pageLength);
    }

    // ESC "@" and ESC "C": the line under the head becomes the top of the
    // form. A sheet with dots above it ends there, and what lies below the
    // head begins the next sheet.
    void SetTopOfForm(int newLength) {
        if (y > 0) {
            // The sheet as far as the head; what lies below is the next one's.
            if (AnyDots(0, y)) {
                Emit(y);
                Event(kSheetEnded);
            }
            ShiftUp(y);
            y = 0;
        }
        if (newLength != s.pageLength) {
            s.pageLength = newLength;
            NewPageLength();
        }
    }

    // The paper moves up by `rows`: across the sheet's end onto the next
    // sheet, or, with skip-over-perforation, from the bottom margin to the
    // top of the next sheet.
    void MoveDown(int rows) {
        y += rows;
        for (;;) {
            if (s.skip > 0 && y >= s.pageLength - s.skip) {
                EndSheet();
                y = 0;
                return;
            }
            if (y < s.pageLength)
                return;
            EndSheet();
            y -= s.pageLength;
        }
    }

    void EndLine() {
        x = s.leftMargin;
        if (s.wideLine) {
            s.wideLine = false;
            StyleChanged();
        }
    }

    void LineFeed() {
        EndLine();
        MoveDown(s.lineSpacing);
    }

    void FormFeed() {
        EndLine();
        EndSheet();
        y = 0;
    }

    void VerticalTab() {
        // Without tab stops VT feeds one line.
        if (s.vTabCount == 0) {
            LineFeed();
            return;
        }
        for (int i = 0; i < s.vTabCount; ++i) {
            if (s.vTabs[i] > y && s.vTabs[i] < s.pageLength) {
                EndLine();
                MoveDown(s.vTabs[i] - y);
                return;
            }
        }
        FormFeed();
    }

    // --- Type ------------------------------------------------------------

    void StyleChanged() {
        for (int code = 0; code < 256; ++code)
            images[code].built = false;
    }

    bool Wide() const { return s.wide || s.wideLine; }
    // Of the modes that cannot be combined the FX prints elite before
    // emphasized and emphasized before condensed (later models print
    // condensed elite at 20 per inch; the FX prints elite).
    bool Emphasized() const { return s.emphasized && !s.elite; }
    int PitchAdvance() const {
        if (s.elite)
            return kElite;
        return s.condensed && !s.emphasized ? kCondensed : kPica;
    }
    int Advance() const { return PitchAdvance() * (Wide() ? 2 : 1); }
    // Rows from the top of a character's cell to the line under it: eight
    // pins, 1/9 inch (the underline runs there).
    int CellHeight() const { return 8 * kPinPitch * (s.doubleHeight ? 2 : 1); }

    // What character code `code` prints in the current tables: the font's
    // glyph `id`, the user-defined character `id` (`userChar`), or a blank
    // (false); and whether the table prints it in italics.
    bool Lookup(std::uint8_t code, GlyphId& id, bool& userChar, bool& italic) const {
        italic = s.italic;
        userChar = s.userSet && userDefined[code];
        if (userChar) {
            id = code;
            return true;
        }
        if (code >= 0x80) {
            if (!s.italicTable) {
                id = code;
                return true;
            }
            // The italic table: 80 to FF are 00 to 7F in italics.
            code = static_cast<std::uint8_t>(code - 0x80);
            italic = true;
            userChar = s.userSet && userDefined[code];
            if (userChar) {
                id = code;
                return true;
            }
            if (code < 0x20 || code == kDEL)
                return false;
        }
        id = NationalGlyph(s.national, code);
        return true;
    }

    // The glyph of character code `code` and whether the table prints it in
    // italics. False for a code that prints as a blank.
    bool Resolve(std::uint8_t code, Glyph& glyph, bool& italic) const {
        GlyphId id = 0;
        bool userChar = false;
        if (!Lookup(code, id, userChar, italic))
            return false;
        glyph = userChar ? user[id] : GlyphDots(id);
        return true;
    }

    // The character that code `code` prints, for the sheet's words.
    char32_t Shows(std::uint8_t code) const {
        GlyphId id = 0;
        bool userChar = false;
        bool italic = false;
        if (!Lookup(code, id, userChar, italic))
            return U' ';
        return userChar ? char32_t{0xFFFD} : GlyphChar(id);
    }

    void Build(std::uint8_t code, CharImage& image) const {
        image.bits.fill(0);
        image.rows = 0;
        image.built = true;
        Glyph glyph{};
        bool italic = false;
        const bool printable = Resolve(code, glyph, italic);
        const int advance = Advance();
        const int wideFactor = Wide() ? 2 : 1;
        const int dotWidth = kDotWidth * wideFactor;
        const int dotHeight = s.doubleHeight ? 2 * kDotHeight : kDotHeight;
        // Pin pitch in half rows; super- and subscripts print at half the
        // pitch in the upper or lower part of the line, always twice (FX).
        int halfPitch = 2 * kPinPitch * (s.doubleHeight ? 2 : 1);
        int top = 0;
        if (s.script) {
            halfPitch /= 2;
            top = s.script == 2 ? 11 * (s.doubleHeight ? 2 : 1) : 0;
        }
        const bool emphasized = Emphasized();
        for (int column = 0; printable && column < kGlyphHalfColumns; ++column) {
            const std::uint16_t pins = glyph[column];
            if (!pins)
                continue;
            const int offset = column * advance / 12;
            for (int pin = 0; pin < 9; ++pin) {
                if (!(pins & (0x100u >> pin)))
                    continue;
                const int at = offset + (italic ? kItalicSlant[pin] * wideFactor : 0);
                std::uint64_t span = Span(at, dotWidth);
                if (emphasized)
                    span |= Span(at + 2, dotWidth); // again half a dot to the right
                const int row = top + pin * halfPitch / 2;
                for (int r = row; r < row + dotHeight; ++r)
                    image.bits[r] |= span;
            }
        }
        if (s.underline) {
            const int row = CellHeight();
            for (int r = row; r < row + kDotHeight; ++r)
                image.bits[r] |= Span(0, advance);
        }
        if (s.doubleStrike || s.script) {
            // The second pass is 1/216 inch lower.
            for (int r = kImageRows - 1; r > 0; --r)
                image.bits[r] |= image.bits[r - 1];
        }
        for (int r = kImageRows; r > 0; --r) {
            if (image.bits[r - 1]) {
                image.rows = static_cast<std::uint8_t>(r);
                break;
            }
        }
    }

    void PrintChar(std::uint8_t code) {
        int advance = Advance();
        if (x + advance > s.rightMargin) {
            LineFeed(); // the printer wraps at the right margin
            advance = Advance();
        }
        CharImage& image = images[code];
        if (!image.built)
            Build(code, image);
        if (keepWords)
            words.Add(y, x, advance, CellHeight(), Shows(code));
        const int rows = std::min<int>(image.rows, Rows() - y);
        for (int r = 0; r < rows; ++r) {
            const std::uint64_t bits = image.bits[r];
            if (!bits)
                continue;
            MarkRow(y + r);
            if (pixels)
                OrWord(Row(y + r), x, bits);
        }
        x += advance;
    }

    // --- Graphics --------------------------------------------------------

    void StartGraphics(int dpi, bool adjacent, bool nine, std::uint64_t columns) {
        density = dpi;
        adjacentRule = adjacent;
        ninePins = nine;
        hasFirstByte = false;
        column = 0;
        graphicsX = x;
        lastColumn = 0;
        remaining = columns * (nine ? 2 : 1);
        // The head moves over all the columns, printed or not (as far as a
        // number can follow it: any text after wraps).
        x = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(graphicsX) +
                                                         (columns * kDotsPerInch + dpi / 2) / dpi,
                                                     kFarRight));
        phase = remaining ? Phase::Graphics : Phase::Idle;
    }

    void GraphicsColumn(std::uint16_t pins) {
        const int at =
            graphicsX + static_cast<int>((static_cast<std::uint64_t>(column) * kDotsPerInch +
                                          static_cast<unsigned>(density) / 2) /
                                         static_cast<unsigned>(density));
        ++column;
        // Dots beyond the right margin are not printed.
        if (!pins || at >= s.rightMargin || at >= kSheetWidth)
            return;
        for (int pin = 0; pin < 9; ++pin) {
            if (!(pins & (0x100u >> pin)))
                continue;
            const int row = y + pin * kPinPitch;
            for (int r = row; r < row + kDotHeight && r < Rows(); ++r) {
                MarkRow(r);
                if (pixels)
                    OrDot(Row(r), at);
            }
        }
    }

    void GraphicsData(const std::uint8_t* data, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t byte = data[i];
            if (ninePins) {
                if (!hasFirstByte) {
                    hasFirstByte = true;
                    firstByte = byte;
                    continue;
                }
                hasFirstByte = false;
                GraphicsColumn(static_cast<std::uint16_t>(firstByte << 1 | byte >> 7));
                continue;
            }
            if (adjacentRule) {
                // At double speed and at quadruple density a pin cannot
                // print in two columns one after the other: the second dot
                // is left out.
                byte = static_cast<std::uint8_t>(byte & ~lastColumn);
                lastColumn = byte;
            }
            GraphicsColumn(static_cast<std::uint16_t>(byte << 1));
        }
    }

    // --- Reading ---------------------------------------------------------

    void Control(std::uint8_t code) {
        switch (code) {
        case kBS:
            x = std::max(s.leftMargin, x - Advance());
            break;
        case kHT:
            for (int i = 0; i < s.hTabCount; ++i) {
                const int stop = s.leftMargin + s.hTabs[i];
                if (stop > x) {
                    if (stop <= s.rightMargin)
                        x = stop;
                    break;
                }
            }
            break;
        case kLF:
            LineFeed();
            break;
        case kVT:
            VerticalTab();
            break;
        case kFF:
            FormFeed();
            break;
        case kCR:
            x = s.leftMargin;
            break;
        case kSO:
            if (!s.wideLine) {
                s.wideLine = true;
                StyleChanged();
            }
            break;
        case kSI:
            SetStyle(s.condensed, true);
            break;
        case kDC2:
            SetStyle(s.condensed, false);
            break;
        case kDC4:
            SetStyle(s.wideLine, false);
            break;
        case kESC:
            phase = Phase::Escape;
            break;
        default:
            break; // BEL, DC1, DC3, CAN and the others: nothing on paper
        }
    }

    void SetStyle(bool& flag, bool on) {
        if (flag != on) {
            flag = on;
            StyleChanged();
        }
    }

    void Text(std::uint8_t byte) {
        if (byte >= 0x80 && byte < 0xA0 && s.upperControl)
            byte &= 0x7F;
        if (byte < 0x20)
            Control(byte);
        else if (byte != kDEL)
            PrintChar(byte);
    }

    void NeedArgs(int count) {
        argsNeeded = count;
        argsHave = 0;
        phase = Phase::Args;
    }

    void StartTabs(int target) {
        tabTarget = target;
        tabCount = 0;
        tabLast = 0;
        phase = Phase::Tabs;
    }

    // The byte after ESC.
    void Command(std::uint8_t c) {
        command = c;
        phase = Phase::Idle;
        switch (c) {
        // Without arguments.
        case '@': {
            const int length = s.pageLength;
            s = Settings{};
            s.pageLength = length;
            StyleChanged();
            SetTopOfForm(kDefaultPageLength);
            x = s.leftMargin;
            return;
        }
        case '0':
            s.lineSpacing = 27;
            return;
        case '1':
            s.lineSpacing = 21;
            return;
        case '2':
            s.lineSpacing = 36;
            return;
        case 'E':
            return SetStyle(s.emphasized, true);
        case 'F':
            return SetStyle(s.emphasized, false);
        case 'G':
            return SetStyle(s.doubleStrike, true);
        case 'H':
            return SetStyle(s.doubleStrike, false);
        case '4':
            return SetStyle(s.italic, true);
        case '5':
            return SetStyle(s.italic, false);
        case 'M':
            return SetStyle(s.elite, true);
        case 'P':
            return SetStyle(s.elite, false);
        case kSI:
            return SetStyle(s.condensed, true);
        case kSO:
            return SetStyle(s.wideLine, true);
        case 'T':
            if (s.script) {
                s.script = 0;
                StyleChanged();
            }
            return;
        case 'O':
            s.skip = 0;
            return;
        case '6':
            s.upperControl = false;
            return;
        case '7':
            s.upperControl = true;
            return;
        case '<': // one line from left to right
        case '8': // paper-out sensor off
        case '9': // paper-out sensor on
        case '#': // eighth bit as it comes
        case '=': // eighth bit 0
        case '>': // eighth bit 1
            return;
        // With a fixed number of arguments.
        case '3':
        case 'A':
        case 'J':
        case 'j':
        case 'C':
        case 'N':
        case 'l':
        case 'Q':
        case 'W':
        case 'w':
        case '-':
        case 'S':
        case '!':
        case 'R':
        case 't':
        case '%':
        case 'x':
        case 'U':  // unidirectional printing
        case 's':  // half speed
        case 'r':  // ribbon colour
        case 'p':  // proportional spacing: printed at the fixed pitch
        case 0x19: // cut-sheet feeder
        case 'I':  // printable code area
        case 'k':  // NLQ typeface
        case 'a':  // NLQ justification
        case ' ':  // space between characters
        case 'i':  // immediate printing
        case '/':  // vertical tab channel
        case 'b':  // vertical tab channel's stops: the channel, then a list
            return NeedArgs(1);
        case 'K':
        case 'L':
        case 'Y':
        case 'Z':
        case '$':
        case '\\':
        case '?':
        case 'e': // tab increments
        case 'f': // skip spaces or lines
            return NeedArgs(2);
        case '*':
        case '^':
        case '&':
        case ':':
            return NeedArgs(3);
        case 'D':
            return StartTabs('D');
        case 'B':
            return StartTabs('B');
        default:
            return; // the printer ignores ESC and the byte after it
        }
    }

    void Arg(std::uint8_t byte) {
        args[argsHave++] = byte;
        // ESC "C" NUL n: the page length in inches.
        if (command == 'C' && argsHave == 1 && byte == 0) {
            argsNeeded = 2;
            return;
        }
        if (argsHave == argsNeeded) {
            phase = Phase::Idle;
            Execute();
        }
    }

    void Execute() {
        const int a = args[0];
        const int word = args[0] | args[1] << 8;
        switch (command) {
        case '3':
            s.lineSpacing = a;
            return;
        case 'A':
            if (a <= 85)
                s.lineSpacing = a * 3;
            return;
        case 'J':
            return MoveDown(a);
        case 'j':
            // The paper moves back at most to the top of the sheet.
            y = std::max(0, y - a);
            return;
        case 'C': {
            int length = 0;
            if (a == 0 && args[1] >= 1 && args[1] <= 22)
                length = args[1] * kRowsPerInch;
            else if (a >= 1 && a <= 127)
                length = a * s.lineSpacing;
            if (length > 0) {
                s.skip = 0;
                SetTopOfForm(length);
            }
            return;
        }
        case 'N':
            if (a >= 1 && a <= 127 && a * s.lineSpacing < s.pageLength)
                s.skip = a * s.lineSpacing;
            return;
        case 'l':
            if (a * PitchAdvance() < s.rightMargin) {
                s.leftMargin = a * PitchAdvance();
                x = std::max(x, s.leftMargin);
            }
            return;
        case 'Q':
            if (a * PitchAdvance() > s.leftMargin && a * PitchAdvance() <= kSheetWidth)
                s.rightMargin = a * PitchAdvance();
            return;
        case 'W':
            return SetStyle(s.wide, a & 1);
        case 'w':
            return SetStyle(s.doubleHeight, a & 1);
        case '-':
            return SetStyle(s.underline, a & 1);
        case 'S':
            if (s.script != ((a & 1) ? 2 : 1)) {
                s.script = (a & 1) ? 2 : 1;
                StyleChanged();
            }
            return;
        case '!':
            s.elite = a & 1;
            s.condensed = a & 4;
            s.emphasized = a & 8;
            s.doubleStrike = a & 16;
            s.wide = a & 32;
            s.italic = a & 64;
            s.underline = a & 128;
            StyleChanged();
            return;
        case 'R':
            if (a < kNationalSets && a != s.national) {
                s.national = a;
                StyleChanged();
            }
            return;
        case 't':
            if (a == 0 || a == '0' || a == 1 || a == '1') {
                s.italicTable = (a & 1) == 0;
                StyleChanged();
            }
            return;
        case '%':
            return SetStyle(s.userSet, a & 1);
        case 'x':
            s.nlq = a & 1; // NLQ prints as draft; only ESC "&" reads it
            return;
        case 'b':
            return StartTabs(a == 0 ? 'B' : 0);
        case 'K':
        case 'L':
        case 'Y':
        case 'Z': {
            const int mode = s.graphicsMode[command == 'K'   ? 0
                                            : command == 'L' ? 1
                                            : command == 'Y' ? 2
                                                             : 3];
            return StartGraphics(kDensity[mode], mode == 2 || mode == 3, false,
                                 static_cast<std::uint64_t>(word));
        }
        case '*': {
            const std::uint64_t columns = args[1] | args[2] << 8;
            if (a <= 6)
                return StartGraphics(kDensity[a], a == 2 || a == 3, false, columns);
            // Modes of the 24-pin printers send three bytes a column; any
            // other mode one. Read, not printed.
            remaining = columns * (a >= 32 ? 3 : 1);
            phase = remaining ? Phase::Skip : Phase::Idle;
            return;
        }
        case '^': {
            const std::uint64_t columns = args[1] | args[2] << 8;
            if (a <= 1)
                return StartGraphics(a ? 120 : 60, false, true, columns);
            remaining = columns * 2;
            phase = remaining ? Phase::Skip : Phase::Idle;
            return;
        }
        case '?': {
            const int n = args[1];
            const char* const letters = "KLYZ";
            const char* at = a ? std::strchr(letters, a) : nullptr;
            if (at && n <= 6)
                s.graphicsMode[static_cast<std::size_t>(at - letters)] =
                    static_cast<std::uint8_t>(n);
            return;
        }
        case '$': {
            const int to = s.leftMargin + word * kDotWidth; // 1/60 inch
            if (to <= s.rightMargin)
                x = to;
            return;
        }
        case '\\': {
            // Signed, in 1/120 inch in draft.
            const int to = x + static_cast<std::int16_t>(word) * 2;
            if (to >= s.leftMargin && to <= s.rightMargin)
                x = to;
            return;
        }
        case '&':
            userCode = args[1];
            userLast = args[2];
            userByte = 0;
            nlqDataLeft = -1;
            phase = userCode <= userLast ? Phase::UserChars : Phase::Idle;
            return;
        case ':':
            userDefined.fill(false); // RAM holds the ROM's characters again
            StyleChanged();
            return;
        default:
            return;
        }
    }

    void TabByte(std::uint8_t byte) {
        // The list ends with NUL, with a stop not beyond the one before, or
        // after the last stop the printer holds (32 across, 16 down).
        const int most = tabTarget == 'D' ? 32 : 16;
        const bool ends = byte == 0 || byte <= tabLast;
        if (!ends) {
            tabs[static_cast<std::size_t>(tabCount++)] = byte;
            tabLast = byte;
        }
        if (ends || tabCount == most) {
            phase = Phase::Idle;
            if (tabTarget == 'D') {
                for (int i = 0; i < tabCount; ++i)
                    s.hTabs[i] = tabs[i] * PitchAdvance();
                s.hTabCount = tabCount;
            } else if (tabTarget == 'B') {
                for (int i = 0; i < tabCount; ++i)
                    s.vTabs[i] = tabs[i] * s.lineSpacing;
                s.vTabCount = tabCount;
            }
        }
    }

    // ESC "&" NUL n m, then for each character from n to m: in draft an
    // attribute byte and 11 columns; in NLQ three bytes (space before, width
    // w, space after) and 3 w bytes, which this model reads and leaves out,
    // as it prints NLQ as draft.
    void UserByte(std::uint8_t byte) {
        if (s.nlq) {
            if (nlqDataLeft < 0) {
                userData[static_cast<std::size_t>(userByte++)] = byte;
                if (userByte == 3)
                    nlqDataLeft = 3 * userData[1];
                else
                    return;
            } else {
                --nlqDataLeft;
            }
            if (nlqDataLeft == 0)
                NextUserChar();
            return;
        }
        userData[static_cast<std::size_t>(userByte++)] = byte;
        if (userByte < 12)
            return;
        // Attribute bit 7: the top eight pins; else the lower eight, for a
        // character with a descender. A pin does not print in two half-dot
        // columns one after the other.
        Glyph glyph{};
        const int shift = (userData[0] & 0x80) ? 1 : 0;
        std::uint16_t last = 0;
        for (int c = 0; c < kGlyphHalfColumns; ++c) {
            const auto pins = static_cast<std::uint16_t>(userData[1 + c] << shift);
            glyph[c] = static_cast<std::uint16_t>(pins & ~last);
            last = glyph[c];
        }
        user[static_cast<std::size_t>(userCode)] = glyph;
        userDefined[static_cast<std::size_t>(userCode)] = true;
        StyleChanged();
        NextUserChar();
    }

    void NextUserChar() {
        userByte = 0;
        nlqDataLeft = -1;
        if (++userCode > userLast)
            phase = Phase::Idle;
    }

    void Byte(std::uint8_t byte) {
        switch (phase) {
        case Phase::Idle:
            return Text(byte);
        case Phase::Escape:
            return Command(byte);
        case Phase::Args:
            return Arg(byte);
        case Phase::Tabs:
            return TabByte(byte);
        case Phase::UserChars:
            return UserByte(byte);
        case Phase::Graphics:
        case Phase::Skip:
            return; // taken in blocks by Read
        }
    }

    std::size_t Read(std::span<const std::uint8_t> bytes) {
        std::size_t i = 0;
        const std::size_t size = bytes.size();
        while (i < size) {
            if (phase == Phase::Graphics || phase == Phase::Skip) {
                const std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(remaining, size - i));
                if (phase == Phase::Graphics)
                    GraphicsData(bytes.data() + i, take);
                remaining -= take;
                i += take;
                if (remaining == 0)
                    phase = Phase::Idle;
            } else {
                Byte(bytes[i++]);
            }
            if (stop && phase == Phase::Idle) {
                stop = false;
                break;
            }
        }
        return i;
    }

    void EndOfFile() {
        if (printedInFile == 0) {
            // A file that prints nothing gives one blank sheet; what a line
            // put only below the sheet's end goes on the next.
            if (sheetHasDots || !AnyDots(s.pageLength, Rows()))
                Emit();
            ShiftUp(s.pageLength);
            y = 0;
            x = s.leftMargin;
        }
        printedInFile = 0;
        stop = false;
    }

    // Every dot still on the paper goes onto a sheet: also what lies wholly
    // below the sheet's end, as on a sheet shorter than a line of text.
    void Finish() {
        while (AnyDots(0, Rows())) {
            if (sheetHasDots)
                Emit();
            ShiftUp(s.pageLength);
        }
        y = 0;
        x = s.leftMargin;
        stop = false;
    }
};

Printer::Printer(SheetSink* sink, unsigned output) : impl_(std::make_unique<Impl>(sink, output)) {}
Printer::~Printer() = default;

void Printer::Reset() {
    impl_ = std::make_unique<Impl>(*impl_);
}

std::size_t Printer::Read(std::span<const std::uint8_t> bytes) {
    return impl_->Read(bytes);
}

unsigned Printer::TakeEvents() {
    const unsigned events = impl_->events;
    impl_->events = 0;
    return events;
}

bool Printer::SheetHasDots() const {
    return impl_->sheetHasDots;
}

void Printer::EndOfFile() {
    impl_->EndOfFile();
}

void Printer::Finish() {
    impl_->Finish();
}

bool Printer::Ok() const {
    return impl_->ok;
}

void Printer::Resume() {
    if (!impl_->outOfMemory)
        impl_->ok = true;
}

bool Printer::OutOfMemory() const {
    return impl_->outOfMemory;
}

std::uint64_t Printer::SheetsPrinted() const {
    return impl_->printed;
}

std::size_t PageCuts::Read(std::span<const std::uint8_t> bytes) {
    const std::size_t taken = printer_.Read(bytes);
    read_ += taken;
    const unsigned events = printer_.TakeEvents();
    if ((events & kFirstDot) && pending_) {
        // A dot after a sheet ended: the page ends with that sheet.
        cuts_[cutCount_++] = pendingCut_;
        pending_ = false;
    }
    if (events & kSheetEnded) {
        if (printer_.SheetHasDots()) {
            cuts_[cutCount_++] = read_; // the next sheet has dots already
        } else {
            pending_ = true;
            pendingCut_ = read_;
        }
    }
    return taken;
}

void PageCuts::Reset() {
    printer_.Reset();
    read_ = 0;
    pending_ = false;
    pendingCut_ = 0;
    cutCount_ = 0;
}

bool PageCuts::TakeCut(std::uint64_t& offset) {
    if (cutCount_ == 0)
        return false;
    offset = cuts_[0];
    cuts_[0] = cuts_[1];
    --cutCount_;
    return true;
}

} // namespace zav::epson9
