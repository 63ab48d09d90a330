// Real instrument captures render without fault into pages of sane size.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

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

} // namespace
