// The Epson 9-pin model, command group by command group: short streams and
// the dots they must give on the 1/240 x 1/216 inch grid. A printed dot is 4
// columns by 3 rows; pin n (1 to 9) of a line at row y covers rows
// y + 3(n-1) to y + 3n - 1. In the 5x7 font the bar '|' is the third of six
// columns, pins 2 to 8, so at pica (1/10 inch, 24 columns) it covers columns
// 8 to 11 and rows 3 to 23 of its line.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "render/epson9.h"
#include "render/page_text.h"
#include "render_test_support.h"

namespace {

using zavtest::Bytes;
using zavtest::Concat;
namespace e9 = zav::epson9;

// Bytes of a literal, NULs included.
template <std::size_t N> Bytes S(const char (&text)[N]) {
    return Bytes(text, text + N - 1);
}

struct Box {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1; // inclusive; x1 < x0: no dot
    bool operator==(const Box&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "[" << b.x0 << ".." << b.x1 << " x " << b.y0 << ".." << b.y1 << "]";
}

struct Paper {
    int height = 0;
    std::vector<std::uint8_t> bits; // 240 bytes a row

    bool Dot(int x, int y) const { return (bits[y * 240 + x / 8] >> (7 - x % 8)) & 1; }
    // The smallest box around the dots in rows [top, bottom).
    Box Bounds(int top = 0, int bottom = -1) const {
        Box b{1 << 30, 1 << 30, -1, -1};
        if (bottom < 0)
            bottom = height;
        for (int y = top; y < bottom; ++y) {
            for (int i = 0; i < 240; ++i) {
                for (int bit = 0; bits[y * 240 + i] && bit < 8; ++bit) {
                    if (Dot(i * 8 + bit, y)) {
                        b.x0 = std::min(b.x0, i * 8 + bit), b.x1 = std::max(b.x1, i * 8 + bit);
                        b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
                    }
                }
            }
        }
        return b.x1 < 0 ? Box{} : b;
    }
    int Dots() const {
        int n = 0;
        for (std::uint8_t byte : bits)
            n += std::popcount(byte);
        return n;
    }
};

struct Collect final : e9::SheetSink {
    std::vector<Paper> sheets;
    bool Sheet(const e9::SheetImage& image) override {
        Paper sheet;
        sheet.height = static_cast<int>(image.height);
        sheet.bits.assign(static_cast<std::size_t>(sheet.height) * 240, 0);
        for (int r = 0; r < sheet.height; ++r) {
            if (static_cast<std::uint32_t>(r) < image.endOfPrint && image.rowHasDots[r])
                std::copy_n(image.rows + r * e9::kRowStride, 240, sheet.bits.begin() + r * 240);
        }
        sheets.push_back(std::move(sheet));
        return true;
    }
};

// The sheets a stream gives, fed in pieces of `piece` bytes.
std::vector<Paper> Print(const Bytes& stream, std::size_t piece = 1 << 20) {
    Collect collect;
    e9::Printer printer(&collect);
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t end = std::min(stream.size(), at + piece);
        at += printer.Read({stream.data() + at, end - at});
    }
    printer.EndOfFile();
    printer.Finish();
    return collect.sheets;
}

Paper One(const Bytes& stream) {
    std::vector<Paper> sheets = Print(stream);
    EXPECT_EQ(sheets.size(), 1u);
    return sheets.empty() ? Paper{} : sheets[0];
}

Box Bar(int x, int y = 0) {
    return {x + 8, y + 3, x + 11, y + 23};
}

TEST(Epson9Graphics, DensitiesPlaceColumnsOnTheGrid) {
    // Single density: a column every 4 grid columns; the top pin is rows 0-2.
    EXPECT_EQ(One(S("\033K\x01\x00\x80")).Bounds(), (Box{0, 0, 3, 2}));
    EXPECT_EQ(One(S("\033K\x03\x00\x00\x00\x01")).Bounds(), (Box{8, 21, 11, 23}));
    // Double (2), quadruple (1), CRT I (3), plotter 72 dpi (3 1/3: column 2
    // at 6.67 -> 7) and CRT II 90 dpi (2 2/3: column 3 at 8).
    EXPECT_EQ(One(S("\033L\x02\x00\x00\x80")).Bounds(), (Box{2, 0, 5, 2}));
    EXPECT_EQ(One(S("\033*\x03\x02\x00\x00\x80")).Bounds(), (Box{1, 0, 4, 2}));
    EXPECT_EQ(One(S("\033*\x04\x02\x00\x00\x80")).Bounds(), (Box{3, 0, 6, 2}));
    EXPECT_EQ(One(S("\033*\x05\x03\x00\x00\x00\x80")).Bounds(), (Box{7, 0, 10, 2}));
    EXPECT_EQ(One(S("\033*\x06\x04\x00\x00\x00\x00\x80")).Bounds(), (Box{8, 0, 11, 2}));
    // Nine pins, two bytes a column: the second byte's top bit is pin 9.
    EXPECT_EQ(One(S("\033^\x00\x01\x00\x00\x80")).Bounds(), (Box{0, 24, 3, 26}));
    EXPECT_EQ(One(S("\033^\x01\x02\x00\x00\x00\x80\x00")).Bounds(), (Box{2, 0, 5, 2}));
    // ESC "?" gives ESC "K" double density.
    EXPECT_EQ(One(S("\033?K\x01\033K\x02\x00\x00\x80")).Bounds(), (Box{2, 0, 5, 2}));
    // Single-density dots side by side join into one line.
    const Paper line = One(S("\033K\x03\x00\x80\x80\x80"));
    EXPECT_EQ(line.Bounds(), (Box{0, 0, 11, 2}));
    EXPECT_EQ(line.Dots(), 12 * 3);
}

TEST(Epson9Graphics, DoubleSpeedAndQuadrupleLeaveOutTheSecondOfTwoDots) {
    // Y and Z: a pin cannot print in two columns one after the other.
    EXPECT_EQ(One(S("\033Y\x02\x00\x80\x80")).Bounds(), (Box{0, 0, 3, 2}));
    EXPECT_EQ(One(S("\033Z\x03\x00\x80\x80\x80")).Bounds(), (Box{0, 0, 5, 2}));
    EXPECT_EQ(One(S("\033Z\x02\x00\x80\x40")).Bounds(), (Box{0, 0, 4, 5}));
    // L may.
    EXPECT_EQ(One(S("\033L\x02\x00\x80\x80")).Bounds(), (Box{0, 0, 5, 2}));
}

TEST(Epson9Graphics, DataIsNeverReadAsTextAndTheHeadMovesOn) {
    // Form feeds, ESC and line feeds in the data are dots: one sheet.
    EXPECT_EQ(One(S("\033K\x03\x00\x0c\033\x0a|")).Bounds(), (Box{0, 3, 23, 23}));
    // The bar follows the 3 columns of 1/60 inch.
    EXPECT_EQ(One(S("\033K\x03\x00\x00\x00\x00|")).Bounds(), Bar(12));
    // Unknown densities are read and not printed: 24-pin modes take three
    // bytes a column, others one; ESC "^" beyond 1 takes two.
    EXPECT_EQ(One(S("\033*\x27\x01\x00|||\x7c")).Bounds(), Bar(0));
    EXPECT_EQ(One(S("\033*\x07\x01\x00||")).Bounds(), Bar(0));
    EXPECT_EQ(One(S("\033^\x05\x01\x00|||")).Bounds(), Bar(0));
    // Dots at or beyond the right margin are dropped; text after wraps.
    const Paper clipped = One(S("\033Q\x01\033K\x08\x00\xff\xff\xff\xff\xff\xff\xff\xff"));
    EXPECT_EQ(clipped.Bounds(), (Box{0, 0, 23, 23}));
}

TEST(Epson9Text, PitchesAndTheirPriorities) {
    EXPECT_EQ(One(S("||")).Bounds(), (Box{8, 3, 35, 23}));           // pica: 24
    EXPECT_EQ(One(S("\033M||")).Bounds(), (Box{6, 3, 29, 23}));      // elite: 20
    EXPECT_EQ(One(S("\x0f||")).Bounds(), (Box{4, 3, 21, 23}));       // condensed: 14
    EXPECT_EQ(One(S("\033W\x01||")).Bounds(), (Box{16, 3, 71, 23})); // double: 48, 8 wide
    EXPECT_EQ(One(S("\x0f\033M||")).Bounds(), (Box{6, 3, 29, 23}));  // elite before condensed
    EXPECT_EQ(One(S("\x0f\033E||")).Bounds(), (Box{8, 3, 37, 23}));  // emphasized before it
    EXPECT_EQ(One(S("\033E\033M||")).Bounds(), (Box{6, 3, 29, 23})); // elite before emphasis
    EXPECT_EQ(One(S("\033M\033P\x0f\x12||")).Bounds(), (Box{8, 3, 35, 23})); // back to pica
    // SO is double width up to the end of the line; DC4 ends it sooner.
    const Paper so = One(S("\x0e|\n|"));
    EXPECT_EQ(so.Bounds(0, 36), (Box{16, 3, 23, 23}));
    EXPECT_EQ(so.Bounds(36), Bar(0, 36));
    EXPECT_EQ(One(S("\x0e\x14|")).Bounds(), Bar(0));
    // ESC "!": elite (1) and double width (32): 40 columns a character.
    EXPECT_EQ(One(S("\033!\x21||")).Bounds(), (Box{13, 3, 60, 23}));
}

TEST(Epson9Text, TypeStyles) {
    EXPECT_EQ(One(S("\033E|")).Bounds(), (Box{8, 3, 13, 23})); // again 1/120 inch right
    EXPECT_EQ(One(S("\033G|")).Bounds(), (Box{8, 3, 11, 24})); // again 1/216 inch lower
    // Underline: pin 9 across the whole character, spaces too.
    EXPECT_EQ(One(S("\033-\x01 ")).Bounds(), (Box{0, 24, 23, 26}));
    EXPECT_EQ(One(S("\033-1 \033-0 ")).Bounds(), (Box{0, 24, 23, 26}));
    // Double height: pins 3/108 inch apart and twice as tall.
    EXPECT_EQ(One(S("\033w\x01|")).Bounds(), (Box{8, 6, 11, 47}));
    // Italics: the top pin of the bar (pin 2) leans 5 columns right, the
    // bottom one (pin 8) not at all.
    const Paper italic = One(S("\0334|"));
    EXPECT_EQ(italic.Bounds(3, 6), (Box{13, 3, 16, 5}));
    EXPECT_EQ(italic.Bounds(21, 24), (Box{8, 21, 11, 23}));
    EXPECT_EQ(One(S("\0334\0335|")).Bounds(), Bar(0));
    // Super- and subscript: half the pitch, in the upper or lower part of
    // the line, printed twice.
    EXPECT_EQ(One(S("\033S\x00|")).Bounds(), (Box{8, 1, 11, 13}));
    EXPECT_EQ(One(S("\033S\x01|")).Bounds(), (Box{8, 12, 11, 24}));
    EXPECT_EQ(One(S("\033S\x01\033T|")).Bounds(), Bar(0));
    // ESC "@" sets every style back.
    EXPECT_EQ(One(S("\033!\xff\033w\x01\033@|")).Bounds(), Bar(0));
}

TEST(Epson9Characters, SetsTablesAndUpperControlCodes) {
    const Box ae = One(S("\0336\x8e")).Bounds();  // code page 437's A umlaut
    EXPECT_EQ(One(S("\033R\x02[")).Bounds(), ae); // Germany
    EXPECT_EQ(One(S("\033R\x05[")).Bounds(), ae); // Sweden
    EXPECT_NE(One(S("\033R\x00[")).Bounds(), ae);
    EXPECT_EQ(One(S("\033R\x63[")).Bounds(), One(S("[")).Bounds()); // no such set
    // 80 to 9F are control codes until ESC "6": 8A is a line feed.
    const Paper lf = One(S("|\x8a|"));
    EXPECT_EQ(lf.Bounds(36), Bar(0, 36));
    EXPECT_EQ(One(S("\0336|\x8a")).Bounds(36), Box{});
    // The italic table prints 00 to 7F in italics; the graphics table box
    // drawing: C4 is a line across the whole cell on pin 5.
    EXPECT_EQ(One(S("\033t\x00\xfc")).Bounds(), One(S("\0334|")).Bounds());
    EXPECT_EQ(One(S("\xc4\xc4")).Bounds(), (Box{0, 12, 47, 14}));
    EXPECT_EQ(One(S("\033t\x00\033t\x01\xc4")).Bounds(), (Box{0, 12, 23, 14}));
}

TEST(Epson9Characters, UserDefinedCharacters) {
    // 'A' becomes one dot on the top pin (attribute bit 7), the second of two
    // dots side by side on the half-dot grid left out.
    const Bytes define = Concat({S("\033&\000AA\x80\x80\x80"), Bytes(9, 0)});
    EXPECT_EQ(One(Concat({define, S("\033%\001A")})).Bounds(), (Box{0, 0, 3, 2}));
    EXPECT_EQ(One(Concat({define, S("A")})).Bounds(), One(S("A")).Bounds()); // ROM set
    // Without bit 7 the character uses the lower eight pins.
    const Bytes lower = Concat({S("\033&\000AA\x00\x80"), Bytes(10, 0), S("\033%\001A")});
    EXPECT_EQ(One(lower).Bounds(), (Box{0, 3, 3, 5}));
    // ESC ":" brings the ROM's characters back; ESC "@" keeps the
    // definitions but selects the ROM set.
    EXPECT_EQ(One(Concat({define, S("\033%\x01\033:\x00\x00\000A")})).Bounds(),
              One(S("A")).Bounds());
    EXPECT_EQ(One(Concat({define, S("\033@\033%\001A")})).Bounds(), (Box{0, 0, 3, 2}));
    // In NLQ mode each definition is three bytes and three a column (here
    // 2 columns): read in full, nothing of it printed.
    const Bytes nlq =
        Concat({S("\033x\x01\033&\000AB"), S("\x00\x02\x00||||||"), S("\x00\x01\x00|||"), S("|")});
    EXPECT_EQ(One(nlq).Bounds(), Bar(0));
}

TEST(Epson9Paper, LineSpacingAndVerticalMoves) {
    EXPECT_EQ(One(S("\0333\x1e\n|")).Bounds(), Bar(0, 30));
    EXPECT_EQ(One(S("\033A\x0a\n|")).Bounds(), Bar(0, 30));
    EXPECT_EQ(One(S("\0330\n|")).Bounds(), Bar(0, 27));
    EXPECT_EQ(One(S("\0331\n|")).Bounds(), Bar(0, 21));
    EXPECT_EQ(One(S("\0333\x01\0332\n|")).Bounds(), Bar(0, 36));
    // LF returns to the left margin; ESC "J" does not; ESC "j" goes back.
    EXPECT_EQ(One(S("|\033J\x64|")).Bounds(100), Bar(24, 100));
    EXPECT_EQ(One(S("\033J\x64\033j\x28|")).Bounds(), Bar(0, 60));
    EXPECT_EQ(One(S("\033j\x28|")).Bounds(), Bar(0)); // not above the top
    // VT: to the next stop of ESC "B", in lines at the spacing then.
    EXPECT_EQ(One(S("\033B\x02\x04\x00\x0b|\x0b|")).Bounds(), (Box{8, 75, 11, 167}));
    EXPECT_EQ(One(S("\x0b|")).Bounds(), Bar(0, 36)); // no stops: a line feed
}

TEST(Epson9Paper, HorizontalMovesAndMargins) {
    EXPECT_EQ(One(S("||\r|")).Bounds(), (Box{8, 3, 35, 23}));
    EXPECT_EQ(One(S("|\x08|")).Bounds(), Bar(0));
    EXPECT_EQ(One(S("\t|")).Bounds(), Bar(192)); // every 8 characters
    EXPECT_EQ(One(S("\033D\x03\x05\x00\t\t|")).Bounds(), Bar(120));
    EXPECT_EQ(One(S("\033D\x03\x02\t\t|")).Bounds(),
              Bar(72));                                                  // 2 ends the list
    EXPECT_EQ(One(S("\033$\x0a\x00|")).Bounds(), Bar(40));               // 1/60 inch
    EXPECT_EQ(One(S("\033$\x0a\x00\033\\\xfc\xff|")).Bounds(), Bar(32)); // -4/120 inch
    EXPECT_EQ(One(S("\033$\xff\x01|")).Bounds(), Bar(0)); // beyond the margin: ignored
    // ESC "l" and ESC "Q" in columns of the pitch; text wraps at the right
    // margin onto the next line at the left one.
    const Paper margins = One(S("\033l\x02\033Q\x03||\r|"));
    EXPECT_EQ(margins.Bounds(0, 36), (Box{56, 3, 59, 23}));
    EXPECT_EQ(margins.Bounds(36), (Box{56, 39, 59, 59}));
}

TEST(Epson9Paper, SheetsEndWhereThePaperLeavesThem) {
    // ESC "C" 2: two lines of 1/6 inch. Two line feeds reach the next sheet.
    std::vector<Paper> sheets = Print(S("\033C\x02|\n\n|"));
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].height, 72);
    EXPECT_EQ(sheets[1].Bounds(), Bar(0));
    // ESC "C" NUL n: inches; the n is no character.
    sheets = Print(S("\033C\x00\x02|"));
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].height, 432);
    EXPECT_EQ(sheets[0].Bounds(), Bar(0));
    // Skip-over-perforation: the third line would start at the bottom margin.
    EXPECT_EQ(Print(S("\033C\x04\033N\x01|\n\n\n|")).size(), 2u);
    EXPECT_EQ(Print(S("\033C\x04\033N\x01\033O|\n\n\n|")).size(), 1u);
    // A form feed ends the sheet; none with nothing printed makes a sheet.
    EXPECT_EQ(Print(S("|\f|")).size(), 2u);
    EXPECT_EQ(Print(S("\f\f|\f\f\r\n")).size(), 1u);
    EXPECT_EQ(Print(S("|\f\f|")).size(), 2u);
    // Nothing printed at all: one blank sheet.
    sheets = Print(S("\r\n\033@"));
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].Dots(), 0);
    EXPECT_EQ(sheets[0].height, e9::kDefaultPageLength);
    // A line printed across the sheet's end goes on at the top of the next.
    sheets = Print(S("\033C\x01\0333\x1e\n|"));
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].Bounds(), (Box{8, 33, 11, 35}));
    EXPECT_EQ(sheets[1].Bounds(), (Box{8, 0, 11, 17}));
    // A sheet one dot row long (ESC "3" 1, ESC "C" 1) under a line of text:
    // the paper moves on until every dot of it is on a sheet.
    const Paper tall = One(S("|p"));
    sheets = Print(S("\0333\x01|p\033C\x01"));
    ASSERT_GT(sheets.size(), 1u);
    int dots = 0;
    for (const Paper& sheet : sheets) {
        EXPECT_EQ(sheet.height, 1);
        dots += sheet.Dots();
    }
    EXPECT_EQ(dots, tall.Dots());
    // ESC "@" makes the line under the head the top of the form.
    sheets = Print(S("|\n\033@|"));
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[1].Bounds(), Bar(0));
}

TEST(Epson9Reading, CommandsWithoutEffectTakeTheirArguments) {
    const Bytes noEffect = S("\033U|\033<\033s|\0338\0339\033#\033=\033>\033r|\033p|"
                             "\033\x19|\x11\x13\x18\x7f\x07\033I|\033k|\033a|\033 |\033i|"
                             "\033/|\033e||\033f||\033b\x01||\x00\033x\x01\033(");
    EXPECT_EQ(One(Concat({noEffect, S("|")})).Bounds(), Bar(0));
    // Any split of a stream reads the same.
    const Bytes mixed = Concat({S("\0333\x18\033L\x04\x00\x0c\x0c\x0c\x0c|\033w\x01"), noEffect,
                                S("A\n\033*\x05\x02\x00\x80\x80\033&\x00"),
                                S("!!\x80\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b!\f|")});
    const std::vector<Paper> whole = Print(mixed);
    for (std::size_t piece : {1u, 2u, 3u, 7u}) {
        const std::vector<Paper> split = Print(mixed, piece);
        ASSERT_EQ(split.size(), whole.size()) << piece;
        for (std::size_t i = 0; i < whole.size(); ++i)
            EXPECT_EQ(split[i].bits, whole[i].bits) << piece;
    }
}

// The words of each sheet, kept without drawing it.
struct Words final : e9::SheetSink {
    std::vector<zav::PageText> sheets;
    bool Sheet(const e9::SheetImage& image) override {
        EXPECT_EQ(image.rows, nullptr);
        zav::PageText& page = sheets.emplace_back();
        for (const zav::TextRun& run : image.text)
            page.Run(run);
        return true;
    }
};

std::vector<zav::PageText> WordsOf(const Bytes& stream) {
    Words words;
    e9::Printer printer(&words, e9::kKeepWords);
    for (std::size_t at = 0; at < stream.size();)
        at += printer.Read({stream.data() + at, stream.size() - at});
    printer.EndOfFile();
    printer.Finish();
    return words.sheets;
}

// A sheet's runs as "row x pitch height:characters".
std::vector<std::string> RunsOf(const zav::PageText& page) {
    std::vector<std::string> runs;
    for (const auto& run : page.Runs()) {
        std::string text = std::to_string(run.row) + " " + std::to_string(run.x) + " " +
                           std::to_string(run.pitch) + " " + std::to_string(run.height) + ":";
        for (const char32_t c : page.Chars(run))
            zav::AppendUtf8(text, c);
        runs.push_back(text);
    }
    return runs;
}

std::string Utf8(std::u32string_view text) {
    std::string out;
    for (const char32_t c : text)
        zav::AppendUtf8(out, c);
    return out;
}

TEST(Epson9Words, EachCellWhereItIsPrintedInItsPitch) {
    // Pica 1/10 inch, condensed 1/17.14, double width 1/5, elite 1/12; a cell
    // is 1/9 inch tall, twice that at double height; a line 1/6 inch.
    const auto sheets = WordsOf(S("AB C\r\n\033$\x0a\x00\x0f"
                                  "cd\x12\033W\x01"
                                  "E\033W\x00\033M"
                                  "F\033P\033w\x01G"));
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(RunsOf(sheets[0]),
              (std::vector<std::string>{"0 0 24 24:AB C", "36 40 14 24:cd", "36 68 48 24:E",
                                        "36 116 20 24:F", "36 136 24 48:G"}));
}

TEST(Epson9Words, CharactersOfTheSelectedTablesAndSets) {
    // German set; code page 437 (80 to 9F only after ESC "6"); the italic
    // table's 80 to FF as 00 to 7F; a user-defined character has no Unicode
    // of its own. Control codes, a bit image's data and ESC arguments give
    // no text; a code that prints blank is a blank cell.
    const Bytes stream = Concat(
        {S("\033R\x02[\\]{|}~@ \xe1\xf8\xc4\x87\x07"),
         S("\0336\x81\0337\x81\033t\x00\xc1\0336\x80X\0337\033t\x01\r\n"),
         S("\033K\x04\x00WXYZ\r\n"),
         S("\033&\000ZZ\x80\x80\x80\000\000\000\000\000\000\000\000\000\033%\001Z\033%\000Z")});
    const auto sheets = WordsOf(stream);
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].PlainText(),
              Utf8(U"\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF\u00A7 \u00DF\u00B0\u2500\u00FCA X\n"
                   U"\uFFFDZ\n"));
}

TEST(Epson9Words, EachSheetHasItsOwn) {
    // 1-inch sheets (216 rows): a line whose cell lies mostly below the end
    // is the next sheet's, at its top, where the form feed that follows
    // brings the head; the next form feed starts a third sheet.
    const auto sheets = WordsOf(S("\033C\x00\x01"
                                  "a\033J\xb4"
                                  "b\033J\x1e"
                                  "c\fd\fe"));
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(RunsOf(sheets[0]), (std::vector<std::string>{"0 0 24 24:a", "180 24 24 24:b"}));
    EXPECT_EQ(RunsOf(sheets[1]), (std::vector<std::string>{"0 48 24 24:c", "0 0 24 24:d"}));
    EXPECT_EQ(sheets[1].PlainText(), "d c\n");
    EXPECT_EQ(RunsOf(sheets[2]), (std::vector<std::string>{"0 0 24 24:e"}));
}

} // namespace
