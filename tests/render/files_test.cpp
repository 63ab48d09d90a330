// File names, result codes and the work files left on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "render/page_bitmap.h"
#include "render/renderer.h"
#include "render_test_support.h"

namespace {

using zav::PathStyle;
using zavtest::Bytes;
using zavtest::ScratchDir;
using zavtest::Text;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

std::string Replaced(const std::string& path, const char* ext, PathStyle style) {
    char out[zav::kPathBufferSize];
    if (!zav::ReplaceExtension(path, ext, out, sizeof out, style))
        return "<too long>";
    return out;
}

TEST(FileNames, ExtensionIsReplacedInTheFileNamePart) {
    const PathStyle win = PathStyle::Windows;
    EXPECT_EQ(Replaced("C:\\Data\\run001.cpt", "bmp", win), "C:\\Data\\run001.bmp");
    EXPECT_EQ(Replaced("C:\\Data\\run", "bmp", win), "C:\\Data\\run.bmp");
    EXPECT_EQ(Replaced("C:\\Data.old\\run", "bmp", win), "C:\\Data.old\\run.bmp");
    EXPECT_EQ(Replaced("C:\\Data\\run.x.cpt", "bmp", win), "C:\\Data\\run.x.bmp");
    EXPECT_EQ(Replaced("run.", "bmp", win), "run.bmp");
    EXPECT_EQ(Replaced("C:/Data.old/run", "$$$", win), "C:/Data.old/run.$$$");

    const PathStyle posix = PathStyle::Posix;
    EXPECT_EQ(Replaced("/data/run003.cpt", "tmp", posix), "/data/run003.tmp");
    EXPECT_EQ(Replaced("/data.old/run", "bmp", posix), "/data.old/run.bmp");
    EXPECT_EQ(Replaced("./run", "bmp", posix), "./run.bmp");
    // A backslash is an ordinary character in a POSIX name.
    EXPECT_EQ(Replaced("/d/a.b\\run", "bmp", posix), "/d/a.bmp");
}

TEST(FileNames, NameThatDoesNotFitIsRefused) {
    char out[16];
    EXPECT_TRUE(zav::ReplaceExtension("/d/abcdefgh.cpt", "bmp", out, sizeof out));
    EXPECT_STREQ(out, "/d/abcdefgh.bmp"); // 15 characters and the terminator
    EXPECT_FALSE(zav::ReplaceExtension("/d/abcdefgh.cp", "bmpx", out, sizeof out));
    EXPECT_STREQ(out, "");

    // The renderer refuses before it touches any file.
    ScratchDir dir;
    const std::string longName = dir.File(std::string(1100 - dir.path().string().size(), 'n'));
    EXPECT_EQ(zav::RenderCaptureFile(longName.c_str()), zav::kRenderPathTooLong);
    EXPECT_TRUE(dir.List().empty());
}

TEST(RenderFiles, SuccessLeavesOnlyCaptureAndBitmap) {
    ScratchDir dir;
    // Stale files with the work-file names are replaced, then removed.
    zavtest::WriteBytes(dir.File("run003.tmp"), Text("old"));
    zavtest::WriteBytes(dir.File("run003.$$$"), Text("old"));
    zavtest::WriteBytes(dir.File("run003.bmp"), Bytes(5000, 1));
    ASSERT_EQ(zavtest::RenderBytes(dir, Text("AB\r\n"), nullptr, "run003.cpt"), 0);
    EXPECT_EQ(dir.List(), Names({"run003.bmp", "run003.cpt"}));
    EXPECT_EQ(fs::file_size(dir.path() / "run003.bmp"), 62u + 12 * 4);
}

// A capture left under a work-file or bitmap name (a raw recording kept as
// ".tmp" after a broken session) would be overwritten or deleted by its own
// rendering: it is refused and stays as it was.
TEST(RenderFiles, CaptureUnderAnOutputNameIsKept) {
    for (const char* name : {"run.tmp", "run.$$$", "run.bmp"}) {
        ScratchDir dir;
        zavtest::WriteBytes(dir.File(name), Text("AB\r\n"));
        EXPECT_EQ(zav::RenderCaptureFile(dir.File(name).c_str()), zav::kRenderNameClash) << name;
        EXPECT_EQ(dir.List(), Names({name}));
        EXPECT_EQ(zavtest::ReadBytes(dir.File(name)), Text("AB\r\n")) << name;
    }
}

TEST(RenderFiles, UnreadableCapture) {
    ScratchDir dir;
    EXPECT_EQ(zav::RenderCaptureFile(dir.File("missing.cpt").c_str()), zav::kRenderCannotOpen);
    EXPECT_TRUE(dir.List().empty());

    // A folder in place of the capture file: nothing to read on any system.
    fs::create_directory(dir.path() / "folder.cpt");
    const int result = zav::RenderCaptureFile(dir.File("folder.cpt").c_str());
    EXPECT_TRUE(result == zav::kRenderCannotOpen || result == zav::kRenderCannotRead) << result;
    EXPECT_EQ(dir.List(), Names({"folder.cpt"}));
}

TEST(RenderFiles, EmptyCaptureOrEmptyGraphicsStream) {
    ScratchDir dir;
    EXPECT_EQ(zavtest::RenderBytes(dir, {}), zav::kRenderCannotRead);
    EXPECT_EQ(dir.List(), Names({"page.cpt"}));

    // Text without a line end makes an empty graphics stream, whose work
    // file stays behind because it was never read back whole.
    ScratchDir dir2;
    EXPECT_EQ(zavtest::RenderBytes(dir2, Text("unended text")), zav::kRenderCannotRead);
    EXPECT_EQ(dir2.List(), Names({"page.cpt", "page.tmp"}));
    EXPECT_EQ(fs::file_size(dir2.path() / "page.tmp"), 0u);
}

// A folder where a work file or the bitmap must be created: creating fails
// even for root. Which files are left shows how far rendering came.
TEST(RenderFiles, OutputThatCannotBeCreated) {
    struct Case {
        const char* blocked;
        Names left;
    };
    const Case cases[] = {
        {"page.tmp", {"page.cpt", "page.tmp"}},
        {"page.$$$", {"page.$$$", "page.cpt"}},
        {"page.bmp", {"page.bmp", "page.cpt"}},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        fs::create_directory(dir.path() / c.blocked);
        EXPECT_EQ(zavtest::RenderBytes(dir, Text("AB\r\n")), zav::kRenderCannotCreate) << c.blocked;
        EXPECT_EQ(dir.List(), c.left) << c.blocked;
        EXPECT_TRUE(fs::is_directory(dir.path() / c.blocked));
    }

    // A capture in a folder that does not exist cannot even be opened.
    ScratchDir dir;
    EXPECT_EQ(zav::RenderCaptureFile(dir.File("no/such/page.cpt").c_str()), zav::kRenderCannotOpen);
}

} // namespace
