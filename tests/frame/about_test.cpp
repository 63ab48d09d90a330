// The help file is looked for beside the program.
#include <gtest/gtest.h>

#include <cstring>

#include "app/about.h"

namespace {

TEST(HelpFile, ReplacesTheProgramsNameInItsFolder) {
    char out[32];
    ASSERT_TRUE(zav::SiblingFilePath("C:\\Tools\\RUDIRAVU.exe", "A.chm", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Tools\\A.chm");
    ASSERT_TRUE(zav::SiblingFilePath("\\\\srv\\share\\x.exe", "A.chm", out, sizeof out));
    EXPECT_STREQ(out, "\\\\srv\\share\\A.chm");
    // Forward slashes are no folder separators here.
    EXPECT_FALSE(zav::SiblingFilePath("RUDIRAVU.exe", "A.chm", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(zav::SiblingFilePath("C:/Tools/RUDIRAVU.exe", "A.chm", out, sizeof out));
}

TEST(HelpFile, APathThatDoesNotFitIsRefused) {
    char out[16];
    std::memset(out, 'x', sizeof out);
    // "C:\Tools\" + "A.chm" is 14 characters and the terminator: fits.
    EXPECT_TRUE(zav::SiblingFilePath("C:\\Tools\\RUDIRAVU.exe", "A.chm", out, 15));
    EXPECT_FALSE(zav::SiblingFilePath("C:\\Tools\\RUDIRAVU.exe", "AB.chm", out, 15));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[15], 'x'); // nothing written past the size given
}

} // namespace
