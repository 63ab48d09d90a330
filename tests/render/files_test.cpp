// File names, result codes and the work files left on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "../capture/capture_test_support.h"
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
    // An earlier bitmap is replaced; files named like the work files of
    // earlier versions (a raw recording kept as ".tmp") are not touched.
    zavtest::WriteBytes(dir.File("run003.tmp"), Text("kept"));
    zavtest::WriteBytes(dir.File("run003.$$$"), Text("old"));
    zavtest::WriteBytes(dir.File("run003.bmp"), Bytes(5000, 1));
    ASSERT_EQ(zavtest::RenderBytes(dir, Text("AB\r\n"), nullptr, "run003.cpt"), 0);
    EXPECT_EQ(dir.List(), Names({"run003.$$$", "run003.bmp", "run003.cpt", "run003.tmp"}));
    EXPECT_EQ(fs::file_size(dir.path() / "run003.bmp"), 62u + 12 * 4);
    // A copy handed the bitmap's blocks holds the file.
    zav::VectorBlockOutput copy;
    ASSERT_EQ(zav::RenderCaptureFile(dir.File("run003.cpt").c_str(), &copy), zav::kRenderOk);
    EXPECT_EQ(copy.bytes, zavtest::ReadBytes(dir.File("run003.bmp")));
    // Drawn in memory and shared, or too large for that: the same file.
    for (const std::size_t maxInMemory : {std::size_t{1} << 20, std::size_t{100}}) {
        zav::OutputFile bitmap(dir.File("shared.bmp"));
        zav::SharedBytes bytes;
        ASSERT_EQ(zav::RenderCaptureFileShared(dir.File("run003.cpt").c_str(), bitmap, bytes,
                                               maxInMemory, nullptr),
                  zav::kRenderOk);
        ASSERT_TRUE(bitmap.Commit());
        EXPECT_EQ(zavtest::ReadBytes(dir.File("shared.bmp")), copy.bytes);
        EXPECT_EQ(bytes ? *bytes : Bytes{}, maxInMemory > 100 ? copy.bytes : Bytes{});
    }
    EXPECT_EQ(zavtest::ReadBytes(dir.File("run003.tmp")), Text("kept"));
    EXPECT_EQ(zavtest::ReadBytes(dir.File("run003.$$$")), Text("old"));
}

// A capture under the bitmap's name (or linked to it) would be overwritten by
// its own page: it is refused and stays as it was. Any other name renders,
// and the capture is never written.
TEST(RenderFiles, CaptureIsNeverItsOwnBitmap) {
    ScratchDir dir;
    zavtest::WriteBytes(dir.File("run.bmp"), Text("AB\r\n"));
    EXPECT_EQ(zav::RenderCaptureFile(dir.File("run.bmp").c_str()), zav::kRenderNameClash);
    EXPECT_EQ(dir.List(), Names({"run.bmp"}));
    EXPECT_EQ(zavtest::ReadBytes(dir.File("run.bmp")), Text("AB\r\n"));

    std::error_code linked;
    fs::create_hard_link(dir.path() / "run.bmp", dir.path() / "run.cpt", linked);
    if (!linked) {
        EXPECT_EQ(zav::RenderCaptureFile(dir.File("run.cpt").c_str()), zav::kRenderNameClash);
        EXPECT_EQ(zavtest::ReadBytes(dir.File("run.bmp")), Text("AB\r\n"));
    }

    for (const char* name : {"rec.tmp", "rec.$$$"}) {
        ScratchDir other;
        zavtest::WriteBytes(other.File(name), Text("AB\r\n"));
        EXPECT_EQ(zav::RenderCaptureFile(other.File(name).c_str()), zav::kRenderOk) << name;
        Names expected{name, "rec.bmp"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(other.List(), expected);
        EXPECT_EQ(zavtest::ReadBytes(other.File(name)), Text("AB\r\n")) << name;
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

TEST(RenderFiles, NothingToPrintWritesNothing) {
    ScratchDir dir;
    EXPECT_EQ(zavtest::RenderBytes(dir, {}), zav::kRenderCannotRead);
    EXPECT_EQ(dir.List(), Names({"page.cpt"}));

    // Text without a line end makes an empty graphics stream: nothing to
    // print, and an earlier bitmap stays as it was.
    zavtest::WriteBytes(dir.File("page.bmp"), Text("earlier"));
    EXPECT_EQ(zavtest::RenderBytes(dir, Text("unended text")), zav::kRenderCannotRead);
    EXPECT_EQ(dir.List(), Names({"page.bmp", "page.cpt"}));
    EXPECT_EQ(zavtest::ReadBytes(dir.File("page.bmp")), Text("earlier"));
}

// 84 KB that ask for a page of 4.7 GB: one bit image 65535 columns wide,
// then ESC "J" 255 over and over. Refused before a byte is written.
TEST(RenderFiles, PageTooLongForABitmapIsRefused) {
    Bytes capture(4 + 65535, 0x81);
    const std::uint8_t wide[] = {0x1B, 'K', 0xFF, 0xFF};
    std::copy(std::begin(wide), std::end(wide), capture.begin());
    capture.reserve(84 * 1024 + 3);
    while (capture.size() < 84 * 1024) {
        capture.push_back(0x1B);
        capture.push_back('J');
        capture.push_back(255);
    }
    ScratchDir dir;
    zavtest::WriteBytes(dir.File("page.bmp"), Text("earlier"));
    EXPECT_EQ(zavtest::RenderBytes(dir, capture), zav::kRenderPageTooLong);
    EXPECT_EQ(dir.List(), Names({"page.bmp", "page.cpt"}));
    EXPECT_EQ(zavtest::ReadBytes(dir.File("page.bmp")), Text("earlier"));
    EXPECT_STREQ(zav::RenderResultText(zav::kRenderPageTooLong), "page too long for a bitmap");
}

// The limits are those of the header: biHeight is a signed 32-bit count and
// bfSize an unsigned 32-bit size.
TEST(RenderFiles, PageSizeLimits) {
    zav::PageGeometry page;
    page.streamBytes = 1;
    page.rasterWidth = 65536; // 8192 bytes a row
    page.rows = (0xFFFFFFFFull - 62) / 8192;
    EXPECT_EQ(zav::CheckPage(page), zav::kRenderOk);
    page.rows += 1;
    EXPECT_EQ(zav::CheckPage(page), zav::kRenderPageTooLong);

    page.rasterWidth = 0; // only the header, however many rows
    page.rows = 0x7FFFFFFF;
    EXPECT_EQ(zav::CheckPage(page), zav::kRenderOk);
    page.rows += 1;
    EXPECT_EQ(zav::CheckPage(page), zav::kRenderPageTooLong);

    page.streamBytes = 0;
    page.rows = 0;
    EXPECT_EQ(zav::CheckPage(page), zav::kRenderCannotRead);
}

// A folder where the bitmap must be created: creating fails even for root,
// and the folder stays.
TEST(RenderFiles, BitmapThatCannotBeCreated) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "page.bmp");
    EXPECT_EQ(zavtest::RenderBytes(dir, Text("AB\r\n")), zav::kRenderCannotCreate);
    EXPECT_EQ(dir.List(), Names({"page.bmp", "page.cpt"}));
    EXPECT_TRUE(fs::is_directory(dir.path() / "page.bmp"));

    // A capture in a folder that does not exist cannot even be opened.
    EXPECT_EQ(zav::RenderCaptureFile(dir.File("no/such/page.cpt").c_str()), zav::kRenderCannotOpen);
}

#ifndef _WIN32
// A bitmap whose writing fails (here at a file-size limit, as on a full
// disk) is not left: a cut-off file would pass for a whole page. An earlier
// bitmap of its name stays as it was.
TEST(RenderFiles, BitmapCutOffByAFullDiskIsRemoved) {
    ScratchDir dir;
    zavtest::WriteBytes(dir.File("page.bmp"), Text("earlier"));
    std::string tall = "AB\r\n";
    for (int i = 0; i < 10; ++i)
        tall += "\x1bJ\xff";
    zavtest::FileSizeLimit limit(100);
    EXPECT_EQ(zavtest::RenderBytes(dir, Text(tall + "CD\r\n")), zav::kRenderCannotCreate);
    EXPECT_EQ(dir.List(), Names({"page.bmp", "page.cpt"}));
    EXPECT_EQ(zavtest::ReadBytes(dir.File("page.bmp")), Text("earlier"));
}
#endif

} // namespace
