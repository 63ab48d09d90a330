// Text conversion: what the graphics stream holds for a capture.
#include <gtest/gtest.h>

#include "render/font.h"
#include "render/renderer.h"
#include "render_test_support.h"

namespace {

using zavtest::Bytes;
using zavtest::Concat;
using zavtest::Text;

struct Converted {
    Bytes stream;
    std::int32_t widest;
};

Converted Convert(const Bytes& capture) {
    Converted c;
    c.widest = zav::ConvertTextLines(capture, c.stream);
    return c;
}

Bytes Glyph(std::uint8_t code) {
    const std::uint8_t* g = zav::GlyphFor(code);
    return Bytes(g, g + 6);
}

// The bit-image line stage 1 makes of `text`, with its LF ESC "J" 12 tail.
Bytes TextLine(const std::string& text) {
    const std::size_t dots = text.size() * 6;
    Bytes line{0x1B, 'K', static_cast<std::uint8_t>(dots & 0xFF),
               static_cast<std::uint8_t>(dots >> 8)};
    for (char c : text) {
        const Bytes g = Glyph(static_cast<std::uint8_t>(c));
        line.insert(line.end(), g.begin(), g.end());
    }
    return Concat({line, {0x0A, 0x1B, 'J', 12}});
}

TEST(GraphicsStream, TextLineBecomesBitImageLine) {
    const Converted ab = Convert(Text("AB\r\n"));
    const Bytes expected = Concat({{0x1B, 0x4B, 0x0C, 0x00},
                                   {0x3F, 0x44, 0x44, 0x44, 0x3F, 0x00},
                                   {0x7F, 0x49, 0x49, 0x49, 0x36, 0x00},
                                   {0x0A, 0x1B, 0x4A, 0x0C}});
    EXPECT_EQ(ab.stream, expected);
    EXPECT_EQ(ab.widest, 12);

    // CR inside a line is skipped; it does not start the line again.
    EXPECT_EQ(Convert(Text("AB\rCD\n")).stream, TextLine("ABCD"));
}

TEST(GraphicsStream, AnyControlByteEndsTheLineAndIsLost) {
    for (std::uint8_t end : {0x0A, 0x09, 0x0C, 0x00, 0x07, 0x1B})
        EXPECT_EQ(Convert(Concat({Text("AB"), {end}})).stream, TextLine("AB")) << int(end);

    // After AB, ESC ends the line, so the "K" of ESC "K" starts a new line
    // that runs up to the first control byte of the arguments.
    const Converted c = Convert(Concat({Text("AB"), {0x1B, 'K', 0x02, 0x00, 0x41, 0x42}}));
    EXPECT_EQ(c.stream, Concat({TextLine("AB"), TextLine("K")}));
    // Its data bytes "AB" are then text with no line end: not drawn.
}

TEST(GraphicsStream, ItemsOutsideTextAreCopiedOrSkipped) {
    const Bytes capture = Concat({{0x0D, 0x0A, 0x0C, 0x00, 0x07, 0x09, 0x1C},
                                  {0x1B, '3', 0x18, 0x1B, 'E', 0x1B, '@', 0x1B, '2'},
                                  {0x1B, 'J', 0x0A, 0x1B, 'C', 0x42},
                                  {0x1B, 'C', 0x00, 0x0C, 0x1B, 'C', 0x00, 0x1B},
                                  {0x1B, 'K', 0x03, 0x00, 0x80, 0x0A, 0xFF}});
    const Bytes expected = Concat({{0x0D, 0x0A, 0x0C},
                                   {0x1B, '3', 0x18, 0x1B, 'E', 0x1B, '@', 0x1B, '2'},
                                   {0x1B, 'J', 0x0A, 0x1B, 'C', 0x42},
                                   {0x1B, 'C', 0x00, 0x0C, 0x1B, 'C', 0x00, 0x1B},
                                   {0x1B, 'K', 0x03, 0x00, 0x80, 0x0A, 0xFF}});
    const Converted c = Convert(capture);
    EXPECT_EQ(c.stream, expected);
    EXPECT_EQ(c.widest, 3);
}

TEST(GraphicsStream, UnendedTextIsNotDrawn) {
    const Converted c = Convert(Text("AB\nCD"));
    EXPECT_EQ(c.stream, TextLine("AB"));
    EXPECT_TRUE(Convert(Text("no line end")).stream.empty());
}

TEST(GraphicsStream, WidestLineCountsTextAndBitImages) {
    Bytes capture{0x1B, 'K', 200, 0};
    capture.resize(capture.size() + 200, 0x01);
    capture.push_back(0x0A);
    capture.insert(capture.end(), 50, 'x');
    capture.push_back(0x0A);
    const Converted c = Convert(capture);
    EXPECT_EQ(c.widest, 300);
    EXPECT_EQ(zav::RasterWidthFor(c.widest), 320u);
    EXPECT_EQ(zav::RasterWidthFor(0), 0u);
    EXPECT_EQ(zav::RasterWidthFor(32), 32u);
    EXPECT_EQ(zav::RasterWidthFor(65535), 65536u);
}

TEST(GraphicsStream, LongLineWrapsAtTheRightMargin) {
    std::string text;
    for (int i = 0; i < 700; ++i)
        text += static_cast<char>('A' + i % 26);
    const Converted c = Convert(Text(text + "\r\n"));
    // 340 + 340 + 20: every character kept, each piece a line of its own.
    EXPECT_EQ(c.stream, Concat({TextLine(text.substr(0, 340)), TextLine(text.substr(340, 340)),
                                TextLine(text.substr(680))}));
    EXPECT_EQ(c.widest, 2040);

    // Exactly 340 characters need no wrap.
    EXPECT_EQ(Convert(Text(text.substr(0, 340) + "\n")).stream, TextLine(text.substr(0, 340)));
}

TEST(GraphicsStream, CutOffSequencesKeepWhatArrived) {
    // ESC as the very last byte, and ESC "3" / ESC "J" without argument.
    EXPECT_EQ(Convert({0x0A, 0x1B}).stream, Bytes({0x0A, 0x1B}));
    EXPECT_EQ(Convert({0x1B, '3'}).stream, Bytes({0x1B, '3'}));
    EXPECT_EQ(Convert({0x1B, 'C', 0x00}).stream, Bytes({0x1B, 'C', 0x00}));
    EXPECT_EQ(Convert({0x1B, 'K', 0x10}).stream, Bytes({0x1B, 'K', 0x10}));

    // A bit image announcing 1000 columns of which 5 arrived: those 5 count.
    const Bytes shortImage{0x1B, 'K', 0xE8, 0x03, 1, 2, 3, 4, 5};
    const Converted c = Convert(shortImage);
    EXPECT_EQ(c.stream, shortImage);
    EXPECT_EQ(c.widest, 5);
    EXPECT_EQ(zav::EscapeSequenceLength(shortImage, 0), 1004u);
}

TEST(GraphicsStream, HighCodesDrawTheBoxGlyph) {
    const Converted c = Convert({0x80, 0xC9, 0xFF, 0x0A});
    const Bytes box = Glyph(0x7F);
    EXPECT_EQ(box, Bytes({0x7F, 0x41, 0x41, 0x41, 0x7F, 0x00}));
    EXPECT_EQ(c.stream, Concat({{0x1B, 'K', 18, 0}, box, box, box, {0x0A, 0x1B, 'J', 12}}));
}

} // namespace
