// The Epson 9-pin model's files: one page bitmap per sheet under one naming
// rule, the header that tells the model, page files that continue the
// printer's settings, and page mode's cuts, which never split a sheet or a
// command.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "render/epson9.h"
#include "render/page_bitmap.h"
#include "render/printout.h"
#include "render/renderer.h"
#include "render_test_support.h"

namespace {

namespace fs = std::filesystem;
using zavtest::Bytes;
using zavtest::Concat;
using zavtest::Text;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

zav::BitmapResolution ResolutionOf(const std::string& bmp) {
    const Bytes file = zavtest::ReadBytes(bmp);
    return file.size() < 62 ? zav::BitmapResolution{0, 0}
                            : zav::BitmapResolution{Le32(file, 38), Le32(file, 42)};
}

struct Seen final : zav::SheetObserver {
    std::vector<std::string> bitmaps;
    std::vector<unsigned> sheets;
    void SheetWritten(unsigned sheet, const char* path) override {
        bitmaps.emplace_back(path);
        sheets.push_back(sheet);
    }
};

std::string Name(const std::string& capture, unsigned sheet) {
    char name[zav::kPathBufferSize];
    EXPECT_TRUE(zav::SheetBitmapName(capture, sheet, name));
    return name;
}

TEST(Epson9Files, SheetBitmapNames) {
    char out[zav::kPathBufferSize];
    ASSERT_TRUE(zav::SheetBitmapName("run.d/page001.cpt", 1, out));
    EXPECT_STREQ(out, "run.d/page001.bmp");
    ASSERT_TRUE(zav::SheetBitmapName("run.d/page001.cpt", 12, out));
    EXPECT_STREQ(out, "run.d/page001-12.bmp");
    ASSERT_TRUE(zav::SheetBitmapName("run.d/printout", 2, out));
    EXPECT_STREQ(out, "run.d/printout-2.bmp");
    ASSERT_TRUE(zav::SheetBitmapName("c:\\a.b\\x", 3, out, sizeof out, zav::PathStyle::Windows));
    EXPECT_STREQ(out, "c:\\a.b\\x-3.bmp");
    EXPECT_FALSE(zav::SheetBitmapName("x.cpt", 0, out));
    // "x-2.bmp" needs 8 bytes with its terminator.
    EXPECT_TRUE(zav::SheetBitmapName("x.cpt", 2, out, 8));
    EXPECT_FALSE(zav::SheetBitmapName("x.cpt", 2, out, 7));
    EXPECT_STREQ(out, "");
}

TEST(Epson9Files, OneBitmapPerSheetThatStatesItsModel) {
    zavtest::ScratchDir dir;
    const std::string capture = dir.File("three.cpt");
    // ESC "C" NUL 1: one-inch sheets.
    zavtest::WriteBytes(capture, Concat({{0x1B, 'C', 0x00, 0x01}, Text("|\f|\f\f|\f")}));
    zav::CaptureRenderer renderer(zav::PrinterModel::Epson9);
    Seen seen;
    ASSERT_EQ(renderer.Render(capture.c_str(), &seen), zav::kRenderOk);
    EXPECT_EQ(renderer.Sheets(), 3u);
    const std::vector<std::string> names{Name(capture, 1), Name(capture, 2), Name(capture, 3)};
    EXPECT_EQ(seen.bitmaps, names);
    EXPECT_EQ(seen.sheets, (std::vector<unsigned>{1, 2, 3}));
    EXPECT_EQ(dir.List(),
              (std::vector<std::string>{"three-2.bmp", "three-3.bmp", "three.bmp", "three.cpt"}));
    for (const std::string& bmp : names) {
        const zavtest::Page page = zavtest::ReadPage(bmp);
        EXPECT_EQ(page.width, 1920);
        EXPECT_EQ(page.height, 216);
        EXPECT_EQ(page.bytesOnDisk, page.fileSize);
        EXPECT_EQ(page.DotCount(), 4 * 21) << bmp; // one bar
        EXPECT_TRUE(page.Dot(8, 3) && page.Dot(11, 23) && !page.Dot(12, 23)) << bmp;
        EXPECT_EQ(ResolutionOf(bmp), zav::epson9::kSheetResolution);
        zav::PrinterModel model{};
        EXPECT_TRUE(zav::PrinterModelOfResolution(ResolutionOf(bmp), model));
        EXPECT_EQ(model, zav::PrinterModel::Epson9);
    }

    // The basic model writes one bitmap, at the resolution it always wrote.
    zav::CaptureRenderer basic(zav::PrinterModel::Basic);
    Seen basicSeen;
    ASSERT_EQ(basic.Render(capture.c_str(), &basicSeen), zav::kRenderOk);
    EXPECT_EQ(basic.Sheets(), 1u);
    EXPECT_EQ(basicSeen.bitmaps, std::vector<std::string>{names[0]});
    EXPECT_EQ(ResolutionOf(names[0]), zav::kBasicPageResolution);
}

TEST(Epson9Files, RefusalsAndFailures) {
    zavtest::ScratchDir dir;
    zav::CaptureRenderer renderer(zav::PrinterModel::Epson9);
    // Nothing printed: one blank sheet; an empty file: nothing.
    const std::string blank = dir.File("blank.cpt");
    zavtest::WriteBytes(blank, Text("\r\n"));
    ASSERT_EQ(renderer.Render(blank.c_str()), zav::kRenderOk);
    EXPECT_EQ(zavtest::ReadPage(dir.File("blank.bmp")).DotCount(), 0);
    zavtest::WriteBytes(blank, {});
    EXPECT_EQ(renderer.Render(blank.c_str()), zav::kRenderCannotRead);
    EXPECT_EQ(renderer.Render(dir.File("none.cpt").c_str()), zav::kRenderCannotOpen);
    // A capture under its own bitmap's name is never written over.
    const std::string self = dir.File("self.bmp");
    zavtest::WriteBytes(self, Text("|"));
    EXPECT_EQ(renderer.Render(self.c_str()), zav::kRenderNameClash);
    EXPECT_EQ(zavtest::ReadBytes(self), Text("|"));
    // The second sheet cannot take its name: neither does the first, and an
    // earlier bitmap of the first stays as it was.
    const std::string two = dir.File("two.cpt");
    zavtest::WriteBytes(two, Text("|\f|"));
    zavtest::WriteBytes(dir.File("two.bmp"), Text("earlier"));
    fs::create_directory(dir.File("two-2.bmp"));
    EXPECT_EQ(renderer.Render(two.c_str()), zav::kRenderCannotCreate);
    EXPECT_EQ(renderer.Sheets(), 0u);
    EXPECT_EQ(zavtest::ReadBytes(dir.File("two.bmp")), Text("earlier"));
    EXPECT_TRUE(fs::is_directory(dir.File("two-2.bmp")));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"blank.bmp", "blank.cpt", "self.bmp",
                                                    "two-2.bmp", "two.bmp", "two.cpt"}))
        << "no work file is left";
    // Nor is the bitmap of another capture file named like a later sheet.
    fs::remove(dir.File("two-2.bmp"));
    zavtest::WriteBytes(dir.File("two-2.cpt"), Text("other"));
    zavtest::WriteBytes(dir.File("two-2.bmp"), Text("its bitmap"));
    EXPECT_EQ(renderer.Render(two.c_str()), zav::kRenderNameClash);
    EXPECT_EQ(zavtest::ReadBytes(dir.File("two-2.bmp")), Text("its bitmap"));
    EXPECT_EQ(zavtest::ReadBytes(dir.File("two.bmp")), Text("earlier"));
}

// Page mode: the cuts of a stream and the pages rendered one after the other.
struct Cut {
    std::vector<Bytes> pages;
};

Cut CutPages(const Bytes& stream, std::size_t piece) {
    zav::epson9::PageCuts cuts;
    Cut cut;
    std::uint64_t start = 0;
    std::uint64_t read = 0;
    std::uint64_t end = 0;
    while (read < stream.size()) {
        const std::size_t size = std::min<std::size_t>(piece, stream.size() - read);
        read += cuts.Read({stream.data() + read, size});
        while (cuts.TakeCut(end)) {
            EXPECT_LE(end, read);
            cut.pages.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(start),
                                   stream.begin() + static_cast<std::ptrdiff_t>(end));
            start = end;
        }
        EXPECT_LE(start, cuts.Settled());
        EXPECT_LE(cuts.Settled(), read);
    }
    cut.pages.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(start), stream.end());
    return cut;
}

// Renders `pages` as the page files of one capture; returns the bitmaps'
// bytes in order and how many each page file gave.
std::vector<Bytes> RenderPages(const std::vector<Bytes>& pages, bool continuing,
                               std::vector<unsigned>* perPage = nullptr) {
    zavtest::ScratchDir dir;
    zav::CaptureRenderer renderer(zav::PrinterModel::Epson9, continuing);
    Seen seen;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::string path = dir.File("p" + std::to_string(i + 1) + ".cpt");
        zavtest::WriteBytes(path, pages[i]);
        EXPECT_EQ(renderer.Render(path.c_str(), &seen), zav::kRenderOk);
        if (perPage)
            perPage->push_back(renderer.Sheets());
    }
    EXPECT_EQ(renderer.Finish(&seen), zav::kRenderOk);
    std::vector<Bytes> bitmaps;
    for (const std::string& bmp : seen.bitmaps)
        bitmaps.push_back(zavtest::ReadBytes(bmp));
    return bitmaps;
}

TEST(Epson9Files, PageFilesContinueThePrintersSettings) {
    // ESC "3" 24 on the first page sets the spacing of the second as well.
    const std::vector<Bytes> pages{Text("\0333\x18|\f"), Text("\n|")};
    const std::vector<Bytes> continued = RenderPages(pages, true);
    const std::vector<Bytes> alone = RenderPages(pages, false);
    ASSERT_EQ(continued.size(), 2u);
    ASSERT_EQ(alone.size(), 2u);
    EXPECT_EQ(continued[0], alone[0]);
    EXPECT_NE(continued[1], alone[1]);
    EXPECT_EQ(continued[1], RenderPages({Text("\0333\x18\n|")}, false)[0]);
}

TEST(Epson9Files, PageModeCutsAtSheetEndsAndNeverInsideACommand) {
    const Bytes graphics{0x1B, 'K', 0x04, 0x00, 0x0C, 0x0C, 0x1B, 0x0C};
    const Bytes wrap = Text(std::string(81, '|')); // the 81st character starts a line
    std::vector<Bytes> streams{
        Concat({Text("\f\f"), graphics, Text("\f\033@\r\n"), graphics, Text("\f\f|\f\033@\f")}),
        // Sheets of one line: text runs over each sheet's end.
        Concat({{0x1B, 'C', 0x01}, wrap, wrap, wrap, Text("\r\n")}),
        // A line across the sheet's end, and lines after a reset.
        Concat({{0x1B, 'C', 0x01, 0x1B, '3', 0x1E}, Text("\n|\n\n|\033@|\n")}),
        // One line feed (80/216 inch) ends two sheets of 36 rows: the one
        // with the bar across its end, and the next with the bar's rest.
        Concat({{0x1B, 'C', 0x01, 0x1B, '3', 0x1E}, Text("\n|"), {0x1B, '3', 0x50}, Text("\n|\f")}),
        // Skip-over-perforation and a second page length.
        Concat({{0x1B, 'C', 0x04, 0x1B, 'N', 0x01},
                Text("|\n|\n|\n|\n|"),
                {0x1B, 'C', 0x00, 0x01},
                Text("|\n\n\n\n\n\n|")}),
    };
    fs::path folder;
    for (const fs::path& sample : zavtest::SampleCaptures(folder))
        streams.push_back(zavtest::ReadBytes(sample.string()));
    for (std::size_t s = 0; s < streams.size(); ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        const std::vector<Bytes> whole = RenderPages({streams[s]}, false);
        for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{1} << 16}) {
            const Cut cut = CutPages(streams[s], piece);
            Bytes joined;
            for (const Bytes& page : cut.pages)
                joined.insert(joined.end(), page.begin(), page.end());
            EXPECT_EQ(joined, streams[s]);
            // Each page file gives one sheet, more only when one command
            // ends several, and together they are the sheets of the whole
            // stream.
            std::vector<unsigned> perPage;
            EXPECT_EQ(RenderPages(cut.pages, true, &perPage), whole) << piece;
            for (std::size_t p = 0; p + 1 < perPage.size(); ++p)
                EXPECT_GE(perPage[p], 1u) << "page " << p;
            if (s == 3) {
                EXPECT_EQ(perPage, (std::vector<unsigned>{2, 1}));
            }
        }
    }
}

} // namespace
