// The text of a page: what the drawing pass tells its text sink, and the plain
// text made from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printout.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "render/renderer.h"
#include "render_test_support.h"

namespace {

using zavtest::Bytes;
using zavtest::Concat;
using zavtest::Text;

// The page drawn with a text sink: its bitmap file and its text.
struct Drawn {
    Bytes bitmap;
    std::string text;
};

Drawn Draw(const Bytes& capture) {
    zav::VectorBlockOutput out;
    zav::PageText text;
    EXPECT_EQ(zav::WritePageBitmap(capture, zav::MeasurePage(capture), out, &text), zav::kRenderOk);
    return {out.bytes, text.PlainText()};
}

std::string TextOnly(const Bytes& capture) {
    zav::PageText text;
    zav::ReadPageText(capture, text);
    return text.PlainText();
}

TEST(PageText, GeneratedPageGivesTheLinesItPrintedAndTheSameBitmap) {
    zavtool::PrintoutOptions options;
    options.pages = 1;
    for (std::uint32_t seed : {1u, 7u, 4242u}) {
        options.seed = seed;
        std::string printed;
        const Bytes capture = zavtool::GeneratePrintout(options, &printed);
        const Drawn drawn = Draw(capture);
        EXPECT_EQ(drawn.text, printed) << "seed " << seed;
        EXPECT_EQ(TextOnly(capture), printed) << "without drawing, seed " << seed;

        zav::VectorBlockOutput plain;
        ASSERT_EQ(zav::WritePageBitmap(capture, zav::MeasurePage(capture), plain), zav::kRenderOk);
        EXPECT_EQ(drawn.bitmap, plain.bytes) << "the text changed the bitmap, seed " << seed;
    }
}

TEST(PageText, BasicModelLinesAsThePaperShowsThem) {
    const Bytes bitImage = {0x1B, 'K', 3, 0, 0xFF, 0x81, 0xFF};
    std::string longLine(345, 'x');
    const Bytes capture = Concat({
        Text("  Table  \r\n"),                // leading spaces kept, trailing trimmed
        Text("a\rb\r\n"),                     // CR inside a line is dropped
        Text("    \r\n"),                     // nothing shows: no line
        bitImage, Text("\r\n"),               // a bit image gives no text
        Text("box \x7F\x80\xA9\xFF end\r\n"), // 7F..FF print the box
        Text(longLine + "\r\n"),              // wraps at the right margin
        Text("cut off"),                      // never ended: not printed
    });
    const std::string box = "\xEF\xBF\xBD";
    const std::string expected = "  Table\nab\nbox " + box + box + box + box + " end\n" +
                                 std::string(340, 'x') + "\nxxxxx\n";
    EXPECT_EQ(Draw(capture).text, expected);
    EXPECT_EQ(TextOnly(capture), expected);
}

TEST(PageText, RowsAndColumnsFromDotPositions) {
    zav::PageText page;
    const auto run = [&](std::uint64_t row, std::int32_t x, std::int32_t pitch, std::u32string s,
                         std::int32_t height = 8) {
        page.Run({row, x, pitch, height, {s.data(), s.size()}});
    };
    // Told out of order: lines come top to bottom, runs left to right.
    run(40, 60, 6, U"right");
    run(40, 0, 6, U"left");
    run(0, 0, 6, U"Title");
    // Three rows down is still the same line (less than half a cell).
    run(43, 30, 6, U"mid");
    // Double width: one column per character, the next run at the column of its dot.
    run(80, 0, 12, U"WIDE");
    run(80, 48, 6, U"next");
    // Overprinting: what was printed first stays; a blank gives way.
    run(120, 0, 6, U"Value  ");
    run(120, 0, 6, U"______ x");
    // Off the grid: the nearest column.
    run(160, 14, 6, U"near");
    // Control characters cannot end a line or a page.
    run(200, 0, 6, U"a\nb\fc");
    EXPECT_EQ(page.PlainText(), "Title\n"
                                "left mid  right\n"
                                "WIDE    next\n"
                                "Value_ x\n"
                                "  near\n"
                                "a\xEF\xBF\xBD"
                                "b\xEF\xBF\xBD"
                                "c\n");
}

} // namespace
