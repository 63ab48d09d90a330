// The page bitmaps the renderer writes, read back through the bitmap parser:
// the writer's header and the reader's rules must agree on every page, and
// the dots must come out where the printer stream put them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap/dib.h"
#include "printout.h"
#include "render/renderer.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

class PageBitmaps : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zav_bitmap_pages_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Renders `capture` and returns its page bitmap's bytes.
    Bytes Render(const Bytes& capture, const std::string& name = "page") {
        const fs::path cpt = dir_ / (name + ".cpt");
        {
            std::ofstream out(cpt, std::ios::binary);
            out.write(reinterpret_cast<const char*>(capture.data()),
                      static_cast<std::streamsize>(capture.size()));
        }
        EXPECT_EQ(zav::RenderCaptureFile(cpt.string().c_str()), zav::kRenderOk);
        std::ifstream in(dir_ / (name + ".bmp"), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
};

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Black dot at (x, y), y counted from the top, read through the layout.
bool Black(const Bytes& file, const zav::DibLayout& d, int x, int y) {
    const std::span<const std::uint8_t> block = std::span<const std::uint8_t>(file).subspan(14);
    const std::uint32_t row =
        d.height > 0 ? d.Rows() - 1 - static_cast<std::uint32_t>(y) : static_cast<std::uint32_t>(y);
    const std::uint8_t byte = block[d.bitsOffset + static_cast<std::uint64_t>(row) * d.stride +
                                    static_cast<std::uint32_t>(x) / 8];
    const std::uint32_t index = (byte >> (7 - x % 8)) & 1;
    return zav::DibColor(block, d, index) == zav::DibRgb{0, 0, 0};
}

void ExpectReadable(const Bytes& file) {
    const auto d = zav::ParsePictureFile(file);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bitCount, 1);
    EXPECT_EQ(d->colorCount, 2u);
    // The writer's own offset and size are where the reader finds the rows.
    EXPECT_EQ(d->bitsOffset + 14, Le32(file, 10));
    EXPECT_EQ(Le32(file, 2), file.size());
    EXPECT_EQ(d->bitsOffset + d->bitsSize + 14, file.size());
    const std::span<const std::uint8_t> block = std::span<const std::uint8_t>(file).subspan(14);
    const zav::DibRgb c0 = zav::DibColor(block, *d, 0), c1 = zav::DibColor(block, *d, 1);
    const zav::DibRgb black{0, 0, 0}, white{255, 255, 255};
    EXPECT_TRUE((c0 == black && c1 == white) || (c0 == white && c1 == black));
}

TEST_F(PageBitmaps, ABitImageComesBackDotForDot) {
    // Eight columns: all eight pins, then only the top and bottom pin, in turn.
    Bytes capture{0x1B, 'K', 8, 0};
    for (int i = 0; i < 8; ++i)
        capture.push_back(i % 2 ? 0x81 : 0xFF);
    capture.insert(capture.end(), {0x0D, 0x0A});
    const Bytes file = Render(capture);
    ASSERT_NO_FATAL_FAILURE(ExpectReadable(file));
    const auto d = zav::ParsePictureFile(file);
    ASSERT_GE(d->Rows(), 8u);
    // Find the image's top-left dot, then compare every dot of the 8 x 8 block.
    int top = -1, left = -1;
    for (int y = 0; y < static_cast<int>(d->Rows()) && top < 0; ++y)
        for (int x = 0; x < d->width; ++x)
            if (Black(file, *d, x, y)) {
                top = y, left = x;
                break;
            }
    ASSERT_GE(top, 0) << "no black dot on the page";
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(Black(file, *d, left + x, top + y), x % 2 == 0 || y == 0 || y == 7)
                << x << "," << y;
    int total = 0;
    for (int y = 0; y < static_cast<int>(d->Rows()); ++y)
        for (int x = 0; x < d->width; ++x)
            total += Black(file, *d, x, y);
    EXPECT_EQ(total, 4 * 8 + 4 * 2);
}

TEST_F(PageBitmaps, EveryPageOfAPrintoutIsReadable) {
    // Single pages of several printouts, and one printout of three pages as
    // one file.
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(seed);
        zavtool::PrintoutOptions one;
        one.pages = 1;
        one.seed = seed;
        ExpectReadable(Render(zavtool::GeneratePrintout(one), "page" + std::to_string(seed)));
    }
    zavtool::PrintoutOptions options;
    options.pages = 3;
    const Bytes printout = zavtool::GeneratePrintout(options);
    ExpectReadable(Render(printout, "whole"));
}

} // namespace
