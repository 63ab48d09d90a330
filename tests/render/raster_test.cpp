// Band rendering and the page bitmap, checked on the bitmap that is written.
#include <gtest/gtest.h>

#include "render/font.h"
#include "render/renderer.h"
#include "render_test_support.h"

namespace {

using zavtest::Bytes;
using zavtest::Concat;
using zavtest::Page;
using zavtest::RenderBytes;
using zavtest::ScratchDir;
using zavtest::Text;

// Height in rows of the bitmap that `capture` renders to.
int Height(const Bytes& capture) {
    ScratchDir dir;
    Page page;
    EXPECT_EQ(RenderBytes(dir, capture, &page), 0);
    return page.height;
}

// The 8 dots of column x in the band whose top row is y0, bit 7 = top.
std::uint8_t Column(const Page& page, int x, int y0) {
    std::uint8_t bits = 0;
    for (int row = 0; row < 8; ++row)
        bits = static_cast<std::uint8_t>(bits << 1 | page.Dot(x, y0 + row));
    return bits;
}

TEST(Raster, TextLineIsDrawnWithTheFontInTwelveRows) {
    ScratchDir dir;
    Page page;
    ASSERT_EQ(RenderBytes(dir, Text("AB\r\n"), &page), 0);
    EXPECT_EQ(page.width, 32);
    EXPECT_EQ(page.height, 12);
    ASSERT_EQ(page.rows.size(), 12u);
    for (int x = 0; x < 12; ++x)
        EXPECT_EQ(Column(page, x, 0), zav::GlyphFor(x < 6 ? 'A' : 'B')[x % 6]) << x;
    EXPECT_EQ(page.DotsInRow(0), 0); // glyphs keep the top row white
    for (int y = 8; y < 12; ++y)
        EXPECT_EQ(page.DotsInRow(y), 0); // ESC "J" 12
    for (int y = 0; y < 12; ++y)
        for (int x = 12; x < 32; ++x)
            EXPECT_FALSE(page.Dot(x, y));
}

TEST(Raster, TwoLinesOfTwentyMakeThe446BytePage) {
    ScratchDir dir;
    Page page;
    ASSERT_EQ(RenderBytes(dir, Text("ABCDEFGHIJKLMNOPQRST\r\n01234567890123456789\r\n"), &page), 0);
    EXPECT_EQ(page.width, 128);
    EXPECT_EQ(page.height, 24);
    EXPECT_EQ(page.bytesOnDisk, 446u);
    EXPECT_EQ(page.fileSize, 446u);
    // Top of the page (the first line, "A" at column 0) lies at the end of the file.
    EXPECT_EQ(Column(page, 0, 0), zav::GlyphFor('A')[0]);
    EXPECT_EQ(Column(page, 0, 12), zav::GlyphFor('0')[0]);
}

TEST(Raster, HeaderRecordIsComplete) {
    ScratchDir dir;
    ASSERT_EQ(RenderBytes(dir, Text("AB\r\n")), 0);
    const Bytes bmp = zavtest::ReadBytes(dir.File("page.bmp"));
    ASSERT_EQ(bmp.size(), 62u + 12 * 4);
    const Bytes expected{'B', 'M', 110, 0, 0, 0, 0,    0,    0,    0, 62,   0,    0, 0, 40, 0,
                         0,   0,   32,  0, 0, 0, 12,   0,    0,    0, 1,    0,    1, 0, 0,  0,
                         0,   0,   0,   0, 0, 0, 0xC4, 0x0E, 0,    0, 0xC4, 0x0E, 0, 0, 0,  0,
                         0,   0,   0,   0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0,    0,    0, 0};
    EXPECT_EQ(Bytes(bmp.begin(), bmp.begin() + 62), expected);
}

TEST(Raster, LineFeedAdvancesByLineSpacingClass) {
    const auto lf = [](std::uint8_t n) { return Height({0x1B, '3', n, 0x0A}); };
    EXPECT_EQ(lf(0), 1);
    EXPECT_EQ(lf(3), 1);
    EXPECT_EQ(lf(4), 2);
    EXPECT_EQ(lf(19), 2);
    EXPECT_EQ(lf(20), 8);
    EXPECT_EQ(lf(255), 8);
    EXPECT_EQ(Height({0x0A}), 8); // initial spacing 36
    EXPECT_EQ(Height({0x1B, '3', 1, 0x1B, '2', 0x0A}), 8);
    EXPECT_EQ(Height({0x1B, '3', 1, 0x1B, '@', 0x0A}), 8);
}

TEST(Raster, PaperAdvanceRows) {
    EXPECT_EQ(Height({0x1B, 'J', 1, 0x0A}), 1 + 8);
    EXPECT_EQ(Height({0x1B, 'J', 12, 0x0A}), 4 + 8);
    EXPECT_EQ(Height({0x1B, 'J', 255, 0x0A}), 85 + 8);
    EXPECT_EQ(Height({0x1B, 'J', 0, 0x0A}), 8);
}

TEST(Raster, PaperAdvanceLosesTheTopBandRowOnly) {
    ScratchDir dir;
    Page page;
    // Column 0 all dots, then ESC "J" 3 (one row), then LF writes the band.
    ASSERT_EQ(RenderBytes(dir, {0x1B, 'K', 1, 0, 0xFF, 0x1B, 'J', 3, 0x0A}, &page), 0);
    ASSERT_EQ(page.height, 9);
    EXPECT_FALSE(page.Dot(0, 0)); // the blank row of the advance
    EXPECT_FALSE(page.Dot(0, 1)); // band row 0 was cleared
    for (int y = 2; y < 9; ++y)
        EXPECT_TRUE(page.Dot(0, y)) << y;
}

TEST(Raster, BitImageDotsAndBandMoves) {
    ScratchDir dir;
    Page page;
    ASSERT_EQ(RenderBytes(dir, {0x1B, 'K', 0, 0, 0x1B, 'K', 3, 0, 0x80, 0x01, 0xFF, 0x0A}, &page),
              0);
    EXPECT_EQ(page.width, 32);
    ASSERT_EQ(page.height, 8);
    EXPECT_EQ(Column(page, 0, 0), 0x80);
    EXPECT_EQ(Column(page, 1, 0), 0x01);
    EXPECT_EQ(Column(page, 2, 0), 0xFF);
    EXPECT_EQ(page.DotCount(), 10);

    // At spacing 1 a LF writes one row and moves the band up by one: the
    // image comes out over 8 single-row feeds, nothing lost or doubled.
    ScratchDir dir2;
    Bytes fine{0x1B, '3', 1, 0x1B, 'K', 2, 0, 0xA5, 0x3C};
    fine.insert(fine.end(), 8, 0x0A);
    ASSERT_EQ(RenderBytes(dir2, fine, &page), 0);
    ASSERT_EQ(page.height, 8);
    EXPECT_EQ(Column(page, 0, 0), 0xA5);
    EXPECT_EQ(Column(page, 1, 0), 0x3C);

    // Two images in one band overprint from the left edge.
    ScratchDir dir3;
    ASSERT_EQ(RenderBytes(dir3, {0x1B, 'K', 1, 0, 0xF0, 0x1B, 'K', 1, 0, 0x0F, 0x0A}, &page), 0);
    EXPECT_EQ(Column(page, 0, 0), 0xFF);
}

TEST(Raster, WidthFollowsTheWidestLine) {
    ScratchDir dir;
    Page page;
    Bytes capture{0x1B, 'K', 200, 0};
    capture.resize(capture.size() + 200, 0xFF);
    capture.push_back(0x0A);
    capture.insert(capture.end(), 50, 'W');
    capture.push_back(0x0A);
    ASSERT_EQ(RenderBytes(dir, capture, &page), 0);
    EXPECT_EQ(page.width, 320);
    EXPECT_EQ(page.height, 8 + 12);
    EXPECT_EQ(page.DotsInRow(0), 200);
}

TEST(Raster, WrappedLineKeepsEveryCharacter) {
    ScratchDir dir;
    Page page;
    ASSERT_EQ(RenderBytes(dir, Concat({Bytes(341, 'I'), {0x0A}}), &page), 0);
    EXPECT_EQ(page.width, 2048);
    EXPECT_EQ(page.height, 24);
    // "I" has 11 dots; 340 of them on the first line, the 341st on the second.
    int first = 0, second = 0;
    for (int y = 0; y < 12; ++y) {
        first += page.DotsInRow(y);
        second += page.DotsInRow(12 + y);
    }
    EXPECT_EQ(first, 340 * 11);
    EXPECT_EQ(second, 11);
}

TEST(Raster, FeedOnlyPages) {
    ScratchDir dir;
    Page page;
    ASSERT_EQ(RenderBytes(dir, Text("\r\n\r\n\n\r"), &page), 0);
    EXPECT_EQ(page.width, 0);
    EXPECT_EQ(page.height, 24);
    EXPECT_EQ(page.bytesOnDisk, 62u);
    EXPECT_EQ(page.fileSize, 62u);

    ASSERT_EQ(RenderBytes(dir, Text("\f\f\f"), &page, "ff.cpt"), 0);
    EXPECT_EQ(page.width, 0);
    EXPECT_EQ(page.height, 0);
    EXPECT_EQ(page.bytesOnDisk, 62u);
}

TEST(Raster, FormFeedWritesOnlyABandWithDots) {
    // FF after dots writes the band; a second FF finds it empty.
    EXPECT_EQ(Height({0x1B, 'K', 1, 0, 0x01, 0x0C, 0x0C, 0x0A}), 16);
    // Dots drawn after the last feed never reach the page.
    EXPECT_EQ(Height({0x0A, 0x1B, 'K', 1, 0, 0xFF}), 8);
    // ESC "C" NUL n takes both arguments even when n is FF or ESC.
    EXPECT_EQ(Height({0x1B, 'K', 1, 0, 1, 0x1B, 'C', 0, 0x0C, 0x1B, 'C', 0, 0x1B, 0x0A}), 8);
}

TEST(Raster, CutOffBitImageDrawsTheColumnsThatArrived) {
    ScratchDir dir;
    Page page;
    // 100 columns announced, 3 arrived (FF 0A 0C are data): the width counts
    // the 3 columns, not 100, and no feed follows to print them.
    ASSERT_EQ(RenderBytes(dir, {0x0A, 0x1B, 'K', 100, 0, 0xFF, 0x0A, 0x0C}, &page), 0);
    EXPECT_EQ(page.width, 32);
    EXPECT_EQ(page.height, 8);
    EXPECT_EQ(page.DotCount(), 0);
}

} // namespace

namespace {

// Whatever an instrument sends, rendering ends with a whole bitmap or -3.
TEST(Raster, ArbitraryBytesNeverFault) {
    const std::uint8_t alphabet[] = {0x1B, 'K',  'J',  '3',  'C',  '@', '2',  0x00, 0x0A,
                                     0x0C, 0x0D, 0x09, 0xFF, 0x80, 'A', 0x01, 0x02};
    std::uint32_t state = 12345;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    ScratchDir dir;
    for (int round = 0; round < 150; ++round) {
        Bytes capture(next() % 400);
        for (auto& b : capture)
            b = (next() % 4 == 0) ? static_cast<std::uint8_t>(next())
                                  : alphabet[next() % sizeof alphabet];
        Page page;
        const int result = RenderBytes(dir, capture, &page);
        ASSERT_TRUE(result == 0 || result == zav::kRenderCannotRead) << round << ": " << result;
        if (result == 0) {
            EXPECT_EQ(page.bytesOnDisk, page.fileSize) << round;
            EXPECT_EQ(page.rows.size(), static_cast<std::size_t>(page.height)) << round;
        }
    }
}

} // namespace
