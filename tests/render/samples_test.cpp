// Real instrument captures render without fault into pages of sane size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "render/renderer.h"
#include "render_test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(Samples, EveryCaptureRenders) {
    // The environment may name another sample folder (a worktree beside the
    // usual checkout, for instance).
    const char* fromEnv = std::getenv("ZAV_SAMPLES_DIR");
    const fs::path samples = fromEnv && *fromEnv ? fromEnv : ZAV_SAMPLES_DIR;
    std::error_code ec;
    if (!fs::is_directory(samples, ec))
        GTEST_SKIP() << "no sample folder at " << samples.string();
    zavtest::ScratchDir dir;
    int rendered = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".esc" && ext != ".esc_p" && ext != ".cpt")
            continue;
        const std::string name = entry.path().stem().string() + ".cpt";
        const zavtest::Bytes capture = zavtest::ReadBytes(entry.path().string());
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
        ++rendered;
    }
    EXPECT_GT(rendered, 0);
}

} // namespace
