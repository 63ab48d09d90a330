// Real instrument captures render without fault into pages of sane size.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "render/page_bitmap.h"
#include "render/printout.h"
#include "render/renderer.h"
#include "render_test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(Samples, EveryCaptureRenders) {
    fs::path folder;
    const std::vector<fs::path> samples = zavtest::SampleCaptures(folder);
    if (samples.empty())
        GTEST_SKIP() << "no sample captures in " << folder.string();
    zavtest::ScratchDir dir;
    for (const fs::path& sample : samples) {
        const std::string name = sample.stem().string() + ".cpt";
        const zavtest::Bytes capture = zavtest::ReadBytes(sample.string());
        zavtest::Page page;
        ASSERT_EQ(zavtest::RenderBytes(dir, capture, &page, name), 0) << name;
        SCOPED_TRACE(name);
        EXPECT_GT(page.width, 0);
        EXPECT_LE(page.width, 65536);
        EXPECT_EQ(page.width % 32, 0);
        EXPECT_GT(page.height, 0);
        // Every byte can add at most 85 rows (ESC "J" 255 takes 3 bytes).
        EXPECT_LE(static_cast<std::size_t>(page.height), capture.size() * 29);
        EXPECT_EQ(page.bytesOnDisk, page.fileSize);
        EXPECT_EQ(page.rows.size(), static_cast<std::size_t>(page.height));
        EXPECT_GT(page.DotCount(), 0);
    }
}

// In the Epson 9-pin model every sample gives whole sheets with its print at
// the top, where the paper has it; the oscilloscope's screen (ESC "L", 60
// lines of 800 columns at 120 per inch, each followed by ESC "J" 24) is one
// sheet, 6 2/3 inches square, whose graticule frame runs across it.
TEST(Samples, EveryCaptureRendersAsEpson9Sheets) {
    fs::path folder;
    const std::vector<fs::path> samples = zavtest::SampleCaptures(folder);
    if (samples.empty())
        GTEST_SKIP() << "no sample captures in " << folder.string();
    zavtest::ScratchDir dir;
    zav::CaptureRenderer renderer(zav::PrinterModel::Epson9);
    for (const fs::path& sample : samples) {
        const std::string stem = sample.stem().string();
        SCOPED_TRACE(stem);
        const std::string capture = dir.File(stem + ".cpt");
        zavtest::WriteBytes(capture, zavtest::ReadBytes(sample.string()));
        ASSERT_EQ(renderer.Render(capture.c_str()), zav::kRenderOk);
        ASSERT_GE(renderer.Sheets(), 1u);
        for (unsigned sheet = 1; sheet <= renderer.Sheets(); ++sheet) {
            char name[zav::kPathBufferSize];
            ASSERT_TRUE(zav::SheetBitmapName(capture, sheet, name));
            const zavtest::Page page = zavtest::ReadPage(name);
            EXPECT_EQ(page.width, 1920);
            EXPECT_EQ(page.height, 11 * 216);
            ASSERT_EQ(page.rows.size(), static_cast<std::size_t>(page.height));
            int top = 0;
            while (top < page.height && page.DotsInRow(top) == 0)
                ++top;
            EXPECT_LT(top, 36) << "sheet " << sheet; // the first line is the first
        }
        if (stem == "scope-tds-epson") {
            EXPECT_EQ(renderer.Sheets(), 1u);
            const zavtest::Page page = zavtest::ReadPage(dir.File(stem + ".bmp"));
            int widest = 0;
            int lowest = 0;
            for (int y = 0; y < page.height; ++y) {
                widest = std::max(widest, page.DotsInRow(y));
                lowest = page.DotsInRow(y) ? y : lowest;
            }
            EXPECT_GT(widest, 1000); // the frame, 500 columns of 1/120 inch
            EXPECT_LT(lowest, 60 * 24 + 24);
            EXPECT_GT(lowest, 59 * 24);
        }
        if (stem == "lab-09_Multi_Measurements") {
            EXPECT_EQ(renderer.Sheets(), 5u); // five reports between form feeds
        }
    }
}

} // namespace
