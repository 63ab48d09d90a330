// Generated instrument printouts: a multi-page stream renders into one tall
// page whose plotted bands join without gaps.
#include <gtest/gtest.h>

#include "printout.h"
#include "render_test_support.h"

namespace {

using zavtest::Page;
using zavtest::RenderBytes;
using zavtest::ScratchDir;

// Longest run of dots, top to bottom, in column x.
int LongestVerticalRun(const Page& page, int x) {
    int best = 0, run = 0;
    for (int y = 0; y < page.height; ++y) {
        run = page.Dot(x, y) ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

TEST(Printout, PagesStackIntoOneBitmapWithJoinedPlotBands) {
    zavtool::PrintoutOptions options;
    options.pages = 1;
    ScratchDir dir;
    Page one, three;
    ASSERT_EQ(RenderBytes(dir, zavtool::GeneratePrintout(options), &one, "one.cpt"), 0);
    options.pages = 3;
    const auto capture = zavtool::GeneratePrintout(options);
    EXPECT_EQ(capture, zavtool::GeneratePrintout(options)); // same seed, same bytes
    ASSERT_EQ(RenderBytes(dir, capture, &three, "three.cpt"), 0);

    EXPECT_EQ(one.width, 384); // the 360-dot plot is the widest line
    EXPECT_EQ(three.width, one.width);
    EXPECT_EQ(three.height, 3 * one.height); // form feeds do not start a new bitmap

    // The plot's axis and its tick (column 4) run through all its bands: at ESC "3" 24
    // each line feed moves exactly one band, so no white row splits them.
    EXPECT_EQ(LongestVerticalRun(one, 4), options.plotBands * 8);
}

} // namespace
