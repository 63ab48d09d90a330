// Finishing the single capture file itself, named by another spelling of its
// path than the capture's own name gives.
#include "capture/capture_files.h"

#include "capture_test_support.h"

namespace {

class FinishSameFile : public zavtest::CaptureFolderTest {};

TEST_F(FinishSameFile, CaptureNamedByAnotherSpellingIsRenderedAndKeepsItsBytes) {
    const std::string capture = "FIRST LINE\r\nSECOND LINE\r\n\f";
    Write(Path("x.cpt"), capture);
    const auto here = zavtest::fs::current_path();
    zavtest::fs::current_path(dir_);
    const struct {
        std::string raw, base;
        bool keepRaw;
    } spellings[] = {{"./x.cpt", "x", true}, {dir_.string() + "//x.cpt", Path("x"), false}};
    for (const auto& spelling : spellings) {
        SCOPED_TRACE(spelling.raw);
        zavtest::fs::remove(Path("x.bmp"));
        zav::FinishOptions options;
        options.singleFile = true;
        options.keepRaw = spelling.keepRaw;
        options.replace = true; // the second spelling makes the capture again
        zav::FinishOutcome outcome;
        EXPECT_EQ(
            zav::FinishCapture(spelling.raw.c_str(), spelling.base.c_str(), options, &outcome),
            zav::kFinishOk);
        EXPECT_EQ(Read(Path("x.cpt")), capture);
        EXPECT_TRUE(zavtest::fs::is_regular_file(Path("x.bmp"))) << "not rendered";
        EXPECT_EQ(outcome.pageCount, 1u);
    }
    zavtest::fs::current_path(here);
}

} // namespace
