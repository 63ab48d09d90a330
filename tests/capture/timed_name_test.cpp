#include "base/timed_name.h"

#include "capture_test_support.h"

namespace {

class TimedName : public zavtest::CaptureFolderTest {};

// Two captures that end in the same second get distinct names, whether the
// first is held by a process still making it or already made; the files of
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
    zav::SystemError error;
    zav::NameClaim first, second, third;
    const auto claim = [&](zav::NameClaim& claim, const char* prefix = "lab") {
        return zav::ClaimTimedCaptureName(folder, prefix, when, claim, error);
    };
    // The recording of a printout that is still coming takes no name.
    Write(Path("lab-20261207-090503-recording.raw"), "x");
    EXPECT_EQ(claim(first), "lab-20261207-090503");
    EXPECT_EQ(claim(second), "lab-20261207-090503-2") << "the first is held";
    first.Release();
    second.Release();
    Write(Path("lab-20261207-090503001.cpt"), "page");
    Write(Path("lab-20261207-090503-2.html"), "report");
    EXPECT_EQ(claim(third), "lab-20261207-090503-3");
    EXPECT_TRUE(zavtest::fs::exists(Path("lab-20261207-090503-3.claim")));
    EXPECT_FALSE(zavtest::fs::exists(Path("lab-20261207-090503.claim"))) << "let go when used";
    EXPECT_EQ(claim(first, "other"), "other-20261207-090503");

    EXPECT_EQ(zav::ClaimTimedCaptureName(Path("no such folder"), "lab", when, second, error), "");
    EXPECT_FALSE(error.text.empty());
}

} // namespace
