// Bitmap header rules, the bounds-checked parser, the picture-name rule and
// the bitmap field's drawing and value rules.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap/bitmap_field.h"
#include "bitmap/dib.h"
#include "bmp_maker.h"

namespace {

using zav::ParsePictureFile;
using zavtest::BmpShape;
using zavtest::MakeBmp;

std::span<const std::uint8_t> Block(const std::vector<std::uint8_t>& file) {
    return std::span<const std::uint8_t>(file).subspan(zav::kBitmapFileHeaderSize);
}

TEST(DibHeader, ColourCountTableSizeAndBitsFollowTheHeader) {
    struct Case {
        const char* what;
        BmpShape shape;
        std::uint32_t colours, tableSize;
        std::uint64_t bits;
    };
    const Case cases[] = {
        {"24-bit, no table", {.bitCount = 24}, 0, 0, 40},
        {"8-bit, biClrUsed 16", {.bitCount = 8, .clrUsed = 16, .colours = 16}, 16, 64, 104},
        {"8-bit, full table", {.bitCount = 8, .colours = 256}, 256, 1024, 1064},
        {"4-bit", {.bitCount = 4, .colours = 16}, 16, 64, 104},
        {"1-bit page bitmap", {.bitCount = 1, .colours = 2}, 2, 8, 48},
        {"1-bit core header", {.headerSize = 12, .bitCount = 1, .colours = 2}, 2, 6, 18},
        {"8-bit, 124-byte header",
         {.headerSize = 124, .bitCount = 8, .colours = 256},
         256,
         1024,
         1148},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::uint8_t> file = MakeBmp(c.shape);
        EXPECT_EQ(zav::DibNumColors(Block(file)), c.colours);
        EXPECT_EQ(zav::DibPaletteSize(Block(file)), c.tableSize);
        EXPECT_EQ(zav::DibBits(Block(file)), c.bits);
        const auto layout = ParsePictureFile(file);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->bitsOffset, c.bits);
        EXPECT_EQ(layout->bitsOffset + layout->bitsSize, file.size() - 14);
    }
}

TEST(DibHeader, ColourTableReadByEntrySize) {
    for (std::uint32_t header : {12u, 40u, 108u}) {
        SCOPED_TRACE(header);
        const auto file = MakeBmp({.headerSize = header, .bitCount = 4, .colours = 16});
        const auto layout = ParsePictureFile(file);
        ASSERT_TRUE(layout);
        EXPECT_EQ(zav::DibColor(Block(file), *layout, 5), (zav::DibRgb{5, 10, 15}));
        EXPECT_EQ(zav::DibColor(Block(file), *layout, 15), (zav::DibRgb{15, 30, 45}));
    }
}

TEST(DibParser, RowsStartWhereTheFileSaysWhenAGapFollowsTheTable) {
    const auto gap = MakeBmp({.bitCount = 8, .colours = 256, .gap = 30});
    auto layout = ParsePictureFile(gap);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->bitsOffset, 40u + 1024u + 30u);
    // No offset in the file (or one inside the table): right after the table.
    const auto zero = MakeBmp({.bitCount = 8, .colours = 256, .offBitsAtRows = false});
    layout = ParsePictureFile(zero);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->bitsOffset, 40u + 1024u);
}

TEST(DibParser, RefusesWhatItCannotReadInsideTheBytes) {
    const auto good = MakeBmp({.width = 5, .height = 3, .bitCount = 24});
    ASSERT_TRUE(ParsePictureFile(good));
    for (std::size_t cut : {0u, 1u, 2u, 13u, 14u, 20u, 53u, 54u}) {
        SCOPED_TRACE(cut);
        EXPECT_FALSE(ParsePictureFile(std::span<const std::uint8_t>(good).first(cut)));
    }
    // One row byte short.
    EXPECT_FALSE(ParsePictureFile(std::span<const std::uint8_t>(good).first(good.size() - 1)));

    struct Case {
        const char* what;
        BmpShape shape;
    };
    const Case bad[] = {
        {"biClrUsed 65535", {.bitCount = 8, .clrUsed = 65535, .colours = 16}},
        {"more colours than 8 bits hold", {.bitCount = 8, .clrUsed = 257, .colours = 257}},
        {"more colours than 4 bits hold", {.bitCount = 4, .clrUsed = 17, .colours = 17}},
        {"table past the end", {.bitCount = 8, .colours = 200}},
        {"unknown header size", {.headerSize = 64, .bitCount = 8, .colours = 256}},
        {"header larger than the block", {.headerSize = 124, .bitCount = 24}},
        {"compressed rows", {.bitCount = 8, .compression = 1, .colours = 256}},
        {"bit count 2", {.bitCount = 2, .colours = 4}},
        {"zero width", {.width = 0, .bitCount = 24}},
        {"negative width", {.width = -4, .bitCount = 24}},
        {"zero height", {.height = 0, .bitCount = 24}},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.what);
        auto file = MakeBmp(c.shape);
        if (std::strcmp(c.what, "header larger than the block") == 0)
            file.resize(14 + 60);
        EXPECT_FALSE(ParsePictureFile(file));
    }
    auto sig = good;
    sig[1] = 'A';
    EXPECT_FALSE(ParsePictureFile(sig));
    // Rows that do not fit: a height near the 32-bit limit, and a size whose
    // row count would wrap a 32-bit product.
    auto tall = MakeBmp({.width = 1, .height = 1, .bitCount = 24});
    tall[22] = 0xFF, tall[23] = 0xFF, tall[24] = 0xFF, tall[25] = 0x7F;
    EXPECT_FALSE(ParsePictureFile(tall));
    auto wide = MakeBmp({.width = 1, .height = 1, .bitCount = 32});
    wide[18] = 0x00, wide[19] = 0x00, wide[20] = 0x00, wide[21] = 0x40; // 2^30 x 4 bytes
    EXPECT_FALSE(ParsePictureFile(wide));
}

TEST(DibParser, TopDownRowsAndCoreHeadersAreRead) {
    const auto top = MakeBmp({.width = 3, .height = -2, .bitCount = 24});
    auto layout = ParsePictureFile(top);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->Rows(), 2u);
    EXPECT_EQ(layout->stride, 12u);
    const auto core =
        MakeBmp({.headerSize = 12, .width = 9, .height = 2, .bitCount = 1, .colours = 2});
    layout = ParsePictureFile(core);
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->core);
    EXPECT_EQ(layout->bitsOffset, 12u + 6u);
    EXPECT_EQ(layout->stride, 4u);
}

TEST(DibParser, OurPictureIsABitmapItReads) {
    std::ifstream in(ZAV_PICTURE_FILE, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    const auto layout = ParsePictureFile(file);
    ASSERT_TRUE(layout) << ZAV_PICTURE_FILE;
    EXPECT_EQ(layout->bitsOffset + layout->bitsSize, file.size() - 14);
    EXPECT_GT(layout->colorCount, 2u);
}

TEST(BitmapName, ExtensionAfterTheLastDotOfTheWholeName) {
    for (const char* yes :
         {"PAGE.BMP", "x.Bpt", "capture.tmp", "C:\\a.b\\vovezera.bmp", "vovezera.bmp"})
        EXPECT_TRUE(zav::HasBitmapExtension(yes)) << yes;
    for (const char* no : {"x.bmpx", "x.dib", "bmp", "C:\\a.b\\file", "x.bm", "x.", ""})
        EXPECT_FALSE(zav::HasBitmapExtension(no)) << no;
}

TEST(BitmapPaint, CentredAtOwnSizeOrItsMiddleInsideTheMargin) {
    struct Case {
        const char* what;
        int W, H, w, h;
        zav::BitmapBlit want;
    };
    const Case cases[] = {
        {"fits", 380, 256, 304, 208, {false, 38, 24, 304, 208, 0, 0}},
        {"odd leftover truncates", 381, 257, 304, 208, {false, 38, 24, 304, 208, 0, 0}},
        {"small", 100, 50, 10, 10, {false, 45, 20, 10, 10, 0, 0}},
        {"larger both ways", 100, 60, 300, 200, {false, 2, 2, 96, 56, 102, 72}},
        {"wider only", 100, 256, 300, 20, {false, 2, 118, 96, 20, 102, 0}},
        {"just too wide for the margin", 102, 60, 100, 10, {false, 2, 25, 98, 10, 1, 0}},
        {"field smaller than the margin", 3, 3, 10, 10, {false, 2, 2, -1, -1, 5, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const zav::BitmapBlit b = zav::PlanBitmapPaint(2, 0, c.W, c.H, c.w, c.h);
        EXPECT_FALSE(b.stretch);
        EXPECT_EQ(b.x, c.want.x);
        EXPECT_EQ(b.y, c.want.y);
        EXPECT_EQ(b.srcX, c.want.srcX);
        EXPECT_EQ(b.srcY, c.want.srcY);
        EXPECT_EQ(b.Empty(), c.want.Empty());
        if (!b.Empty()) {
            EXPECT_EQ(b.width, c.want.width);
            EXPECT_EQ(b.height, c.want.height);
            // Never more than the picture holds, never outside the margin.
            EXPECT_LE(b.srcX + b.width, c.w);
            EXPECT_LE(b.srcY + b.height, c.h);
            EXPECT_LE(b.x + b.width, c.W - 2);
            EXPECT_LE(b.y + b.height, c.H - 2);
        }
    }
}

TEST(BitmapPaint, ButtonsAndCheckBoxesStretchBesideTheirOwnParts) {
    const zav::BitmapBlit owner = zav::PlanBitmapPaint(1, 0x5001000B, 100, 40, 7, 9);
    EXPECT_TRUE(owner.stretch);
    EXPECT_EQ((std::vector<int>{owner.x, owner.y, owner.width, owner.height}),
              (std::vector<int>{25, 3, 72, 34}));
    const zav::BitmapBlit push = zav::PlanBitmapPaint(1, 0x50010000, 100, 40, 7, 9);
    EXPECT_EQ((std::vector<int>{push.x, push.y, push.width, push.height}),
              (std::vector<int>{3, 3, 94, 34}));
    const zav::BitmapBlit check = zav::PlanBitmapPaint(4, 0x0B, 100, 40, 7, 9);
    EXPECT_TRUE(check.stretch);
    EXPECT_EQ((std::vector<int>{check.x, check.y, check.width, check.height}),
              (std::vector<int>{14, 2, 84, 38}));
    EXPECT_TRUE(zav::PlanBitmapPaint(1, 0, 100, 40, 0, 9).Empty()); // no picture
}

TEST(BitmapFieldValue, TableValuesAndFileNames) {
    auto v = zav::ParseBitmapFieldValue("_table ports");
    EXPECT_TRUE(v.table);
    EXPECT_EQ(v.name, "ports");
    v = zav::ParseBitmapFieldValue("_TABLE:ports");
    EXPECT_TRUE(v.table);
    EXPECT_EQ(v.name, "ports");
    v = zav::ParseBitmapFieldValue("_table");
    EXPECT_TRUE(v.table);
    EXPECT_EQ(v.name, "");
    v = zav::ParseBitmapFieldValue("_tabl.bmp");
    EXPECT_FALSE(v.table);
    EXPECT_EQ(v.name, "_tabl.bmp");
}

TEST(BitmapFieldValue, CopiedOutAsABoundedStringCopy) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(zav::CopyBitmapFieldValue("logo.bmp", buf, 4), 4);
    EXPECT_EQ(std::string(buf, 5), "logox"); // no terminator, nothing past 4
    EXPECT_EQ(zav::CopyBitmapFieldValue("logo.bmp", buf, 0), 8);
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(zav::CopyBitmapFieldValue("a.bmp", buf, 8), 5);
    EXPECT_EQ(std::string(buf, 8), std::string("a.bmp\0\0\0", 8));
    EXPECT_EQ(zav::CopyBitmapFieldValue("a.bmp", nullptr, 8), 5);
    EXPECT_EQ(zav::CopyBitmapFieldValue("logo.bmp", buf, -1), 0);
}

} // namespace
