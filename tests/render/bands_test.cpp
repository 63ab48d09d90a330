// The stages on bytes in memory: measuring, band rendering with the rows it
// hands on, and the bottom-up bitmap written block by block.
#include <gtest/gtest.h>

#include "printout.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"
#include "render_test_support.h"

namespace {

using zavtest::Bytes;
using zavtest::Concat;
using zavtest::Text;

// Every row a page hands on, top row first.
struct Rows final : zav::RowSink {
    explicit Rows(std::uint32_t rowBytes) : rowBytes(rowBytes) {}
    bool Row(const std::uint8_t* row) override {
        raster.insert(raster.end(), row, row + rowBytes);
        ++count;
        return true;
    }
    bool BlankRows(std::uint64_t n) override {
        raster.resize(raster.size() + n * rowBytes, 0);
        count += n;
        return true;
    }
    std::uint32_t rowBytes;
    std::uint64_t count = 0;
    Bytes raster;
};

Rows Render(const Bytes& capture) {
    const zav::PageGeometry page = zav::MeasurePage(capture);
    Bytes band(zav::BandBytesFor(page.rasterWidth), 0);
    Rows rows(page.RowBytes());
    EXPECT_TRUE(zav::RenderBands(capture, page.rasterWidth, band, rows));
    EXPECT_EQ(rows.count, page.rows);
    return rows;
}

TEST(Bands, MeasuringKnowsWhichBandRowsHoldDots) {
    // At spacing 1 the bottom dot of a column climbs to band row 0 in 7 line
    // feeds. ESC "J" then clears it, so the form feed finds the band empty;
    // without the ESC "J" it writes the band.
    const Bytes climb = Concat({{0x1B, '3', 1, 0x1B, 'K', 1, 0, 0x01}, Bytes(7, 0x0A)});
    const Bytes cleared = Concat({climb, {0x1B, 'J', 1, 0x0C}});
    const Bytes kept = Concat({climb, {0x1B, 'J', 0, 0x0C}});
    EXPECT_EQ(zav::MeasurePage(cleared).rows, 7u + 1u);
    EXPECT_EQ(zav::MeasurePage(kept).rows, 7u + 8u);
    EXPECT_EQ(Render(cleared).count, 8u);
    const Rows rows = Render(kept);
    ASSERT_EQ(rows.count, 15u);
    EXPECT_EQ(rows.raster[7 * 4], 0x80); // the dot, at the top of the band written

    const zav::PageGeometry text = zav::MeasurePage(Text("ABC\r\n"));
    EXPECT_EQ(text.widest, 18);
    EXPECT_EQ(text.rasterWidth, 32u);
    EXPECT_EQ(text.rows, 12u);
    Bytes stream;
    zav::ConvertTextLines(Text("ABC\r\n"), stream);
    EXPECT_EQ(text.streamBytes, stream.size());
    EXPECT_EQ(zav::MeasurePage(Text("no end")).streamBytes, 0u);
}

// Bit images of every width up to 40 columns, drawn after 0 to 7 single-row
// feeds (so the band's first row lies anywhere in its ring), against the
// dots placed one at a time.
TEST(Bands, EightColumnsAtATimePlaceEveryDot) {
    std::uint32_t state = 99;
    for (int columns = 1; columns <= 40; ++columns) {
        for (int feeds = 0; feeds < 8; ++feeds) {
            Bytes image(columns);
            for (auto& d : image)
                d = static_cast<std::uint8_t>(state = state * 1103515245u + 12345u) >> 3;
            const Bytes capture = Concat({{0x1B, '3', 1},
                                          Bytes(feeds, 0x0A),
                                          {0x1B, 'K', static_cast<std::uint8_t>(columns), 0},
                                          image,
                                          Bytes(8, 0x0A)});
            const Rows rows = Render(capture);
            const std::size_t rowBytes = zav::RasterWidthFor(columns) / 8;
            ASSERT_EQ(rows.count, static_cast<std::uint64_t>(feeds + 8));
            Bytes expected(rows.raster.size(), 0);
            for (int x = 0; x < columns; ++x) {
                for (int y = 0; y < 8; ++y) {
                    if (image[x] & (0x80 >> y))
                        expected[(feeds + y) * rowBytes + x / 8] |= 0x80 >> (x % 8);
                }
            }
            ASSERT_EQ(rows.raster, expected) << columns << " columns after " << feeds;
        }
    }
}

// The bitmap holds the rows bottom-up behind its header, whatever the size of
// the blocks it is written in.
TEST(BottomUpBitmap, BlocksOfAnySizeMakeTheSameFile) {
    zavtool::PrintoutOptions options;
    options.pages = 2;
    const Bytes capture = zavtool::GeneratePrintout(options);
    const zav::PageGeometry page = zav::MeasurePage(capture);
    const Rows rows = Render(capture);
    const auto height = static_cast<std::uint32_t>(page.rows);
    const std::size_t rowBytes = page.RowBytes();

    zav::VectorBlockOutput whole;
    ASSERT_EQ(zav::WritePageBitmap(capture, page, whole), zav::kRenderOk);
    ASSERT_EQ(whole.bytes.size(), 62 + rows.raster.size());
    zav::PageBitmapHeader header = zav::BlankPageBitmapHeader();
    zav::CompletePageBitmapHeader(header, static_cast<std::uint32_t>(whole.bytes.size()),
                                  static_cast<std::int32_t>(page.rasterWidth),
                                  static_cast<std::int32_t>(height));
    EXPECT_TRUE(std::equal(header.bytes, header.bytes + 62, whole.bytes.begin()));
    for (std::size_t y = 0; y < height; ++y) {
        ASSERT_TRUE(std::equal(rows.raster.begin() + y * rowBytes,
                               rows.raster.begin() + (y + 1) * rowBytes,
                               whole.bytes.end() - (y + 1) * rowBytes))
            << "row " << y;
    }

    for (std::size_t blockRows : {1u, 7u, 100u}) {
        Bytes buffer(
            zav::BottomUpBitmap::BufferBytesFor(page.RowBytes(), height, blockRows * rowBytes));
        ASSERT_EQ(buffer.size(), 62 + blockRows * rowBytes);
        zav::VectorBlockOutput blocks;
        zav::BottomUpBitmap bitmap(blocks, page.rasterWidth, height, buffer);
        Bytes band(zav::BandBytesFor(page.rasterWidth), 0);
        ASSERT_TRUE(zav::RenderBands(capture, page.rasterWidth, band, bitmap));
        ASSERT_TRUE(bitmap.Finish());
        EXPECT_EQ(blocks.bytes, whole.bytes) << blockRows << " rows a block";
    }
}

TEST(BottomUpBitmap, RowsMustMatchThePage) {
    Bytes buffer(zav::BottomUpBitmap::BufferBytesFor(4, 3));
    const std::uint8_t row[4] = {1, 2, 3, 4};
    zav::VectorBlockOutput out;
    zav::BottomUpBitmap few(out, 32, 3, buffer);
    EXPECT_TRUE(few.Row(row));
    EXPECT_TRUE(few.BlankRows(1));
    EXPECT_FALSE(few.Finish()); // one row short

    zav::BottomUpBitmap many(out, 32, 3, buffer);
    EXPECT_TRUE(many.BlankRows(3));
    EXPECT_FALSE(many.Row(row)); // one row too many
    EXPECT_FALSE(many.Finish());
}

TEST(BottomUpBitmap, FailedWriteFailsThePage) {
    struct Failing final : zav::BlockOutput {
        bool WriteAt(std::uint64_t, const std::uint8_t*, std::size_t) override { return false; }
    } failing;
    const Bytes capture = Text("AB\r\n");
    EXPECT_EQ(zav::WritePageBitmap(capture, zav::MeasurePage(capture), failing),
              zav::kRenderCannotCreate);
}

} // namespace
