#include "base/timed_name.h"

#include "capture_test_support.h"

namespace {

class TimedName : public zavtest::CaptureFolderTest {};

// Two captures that end in the same second get distinct names; the files of
// other captures that merely start alike do not take a name.
TEST_F(TimedName, ASecondNameInTheSameSecondGetsASuffix) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 3;
    const std::string folder = dir_.string();
    const std::string first = zav::PickTimedCaptureName(folder, "lab", when);
    EXPECT_EQ(first, "lab-20261207-090503");
    // The recording of a printout that is still coming takes no name.
    Write(Path(first + "-recording.raw"), "x");
    EXPECT_EQ(zav::PickTimedCaptureName(folder, "lab", when), first);

    Write(Path(first + "001.cpt"), "page");
    const std::string second = zav::PickTimedCaptureName(folder, "lab", when);
    EXPECT_EQ(second, first + "-2");
    Write(Path(second + ".html"), "report");
    EXPECT_EQ(zav::PickTimedCaptureName(folder, "lab", when), first + "-3");
    EXPECT_EQ(zav::PickTimedCaptureName(folder, "other", when), "other-20261207-090503");

    EXPECT_EQ(zav::PickTimedCaptureName(Path("no such folder"), "lab", when), "");
}

} // namespace
