// Command-line tokenizer and the "/d" start-up rules.
#include "app/cmdline.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zav::CommandLine;
using zav::PrepareCommandLine;
using zav::StartupAction;

struct Profile {
    std::string value;
    int reads = 0;
};

std::string_view ReadProfile(void* ctx) {
    auto* p = static_cast<Profile*>(ctx);
    ++p->reads;
    return p->value;
}

StartupAction Prepare(CommandLine& line, std::string_view text, Profile* profile = nullptr) {
    static Profile none;
    return PrepareCommandLine(line, text, ReadProfile, profile ? profile : &none);
}

TEST(CommandLine, NumbersFilesAndSeparators) {
    CommandLine line;
    ASSERT_EQ(Prepare(line, "/M:12\t/A:3 \n C:\\cap\\page.cpt"), StartupAction::Proceed);
    EXPECT_EQ(line.monitor, 12);
    EXPECT_EQ(line.application, 3);
    EXPECT_FALSE(line.debug);
    zav::PrependMainProcedure(line);
    ASSERT_EQ(line.argc, 2);
    EXPECT_STREQ(line.argv[0], "=MainProcedure");
    EXPECT_STREQ(line.argv[1], "C:\\cap\\page.cpt");
    EXPECT_EQ(line.argv[2], nullptr);

    // Application number 0: both are 0, and nothing is asked.
    ASSERT_EQ(Prepare(line, "/m:12"), StartupAction::Proceed);
    EXPECT_EQ(line.monitor, 0);
    EXPECT_EQ(line.application, 0);

    // atoi rules, the application number kept to 16 bits.
    ASSERT_TRUE(zav::TokenizeCommandLine(line, "/m:-7x /a:65539 /m: extra"));
    EXPECT_EQ(line.monitor, 0); // the later "/m:" has no digits
    EXPECT_EQ(line.application, 3);
    ASSERT_TRUE(zav::TokenizeCommandLine(line, "/m:99999999999 /a:-1"));
    EXPECT_EQ(line.monitor, 2147483647);
    EXPECT_EQ(line.application, 65535);
    ASSERT_TRUE(zav::TokenizeCommandLine(line, "/m:-7x"));
    EXPECT_EQ(line.monitor, -7);

    // An empty line: only "=MainProcedure".
    ASSERT_EQ(Prepare(line, ""), StartupAction::Proceed);
    EXPECT_EQ(line.argc, 0);
    zav::PrependMainProcedure(line);
    EXPECT_EQ(line.argc, 1);
    EXPECT_EQ(line.argv[1], nullptr);
}

TEST(CommandLine, DebugSwitchIsTheWholeToken) {
    CommandLine line;
    ASSERT_TRUE(zav::TokenizeCommandLine(line, "/dx"));
    EXPECT_FALSE(line.debug);
    ASSERT_EQ(line.argc, 1);
    EXPECT_STREQ(line.argv[0], "/dx");
    ASSERT_TRUE(zav::TokenizeCommandLine(line, "/D"));
    EXPECT_TRUE(line.debug);
    EXPECT_EQ(line.argc, 0);
}

TEST(CommandLine, DebugRules) {
    CommandLine line;
    Profile profile{"/m:5 /a:2", 0};
    ASSERT_EQ(Prepare(line, "/d", &profile), StartupAction::Proceed);
    EXPECT_EQ(profile.reads, 1);
    EXPECT_TRUE(line.debug);
    EXPECT_EQ(line.monitor, 5);
    EXPECT_EQ(line.application, 2);

    // The profile's file argument reaches the main procedure.
    profile = {"/m:5 file.cpt", 0};
    ASSERT_EQ(Prepare(line, " /D ", &profile), StartupAction::AskDebugging);
    EXPECT_EQ(line.monitor, 0);
    ASSERT_EQ(line.argc, 1);
    EXPECT_STREQ(line.argv[0], "file.cpt");

    profile = {"", 0};
    EXPECT_EQ(Prepare(line, "/d", &profile), StartupAction::AskDebugging);

    for (const char* notAlone : {"/d /m:1", "/a:1 /d", "/d file.cpt"}) {
        profile = {"/m:5 /a:2", 0};
        EXPECT_EQ(Prepare(line, notAlone, &profile), StartupAction::DebugNotAlone) << notAlone;
        EXPECT_EQ(profile.reads, 0);
    }
    // "/m:0" counts as no number, so "/d" is still alone.
    EXPECT_EQ(Prepare(line, "/d /m:0", &profile), StartupAction::Proceed);
}

TEST(CommandLine, TwentyFiveArgumentsAtMost) {
    std::string text;
    for (int i = 1; i <= 30; ++i) {
        text += 'f';
        text += std::to_string(i);
        text += ' ';
    }
    CommandLine line;
    ASSERT_EQ(Prepare(line, text), StartupAction::Proceed);
    ASSERT_EQ(line.argc, 25);
    zav::PrependMainProcedure(line);
    ASSERT_EQ(line.argc, 26);
    EXPECT_STREQ(line.argv[0], "=MainProcedure");
    for (int i = 1; i <= 25; ++i) {
        std::string expected(1, 'f');
        expected += std::to_string(i);
        EXPECT_EQ(line.argv[i], expected);
    }
    EXPECT_EQ(line.argv[26], nullptr);
    zav::PrependMainProcedure(line); // no slot left: unchanged
    EXPECT_EQ(line.argc, 26);
    EXPECT_STREQ(line.argv[1], "f1");
}

TEST(CommandLine, OverLongLinesAreRefused) {
    CommandLine line;
    std::string fits(255, 'a');
    ASSERT_EQ(Prepare(line, fits), StartupAction::Proceed);
    ASSERT_EQ(line.argc, 1);
    EXPECT_EQ(std::string(line.argv[0]), fits);

    EXPECT_EQ(Prepare(line, fits + "b"), StartupAction::TooLong);
    EXPECT_EQ(line.argc, 0);
    EXPECT_EQ(line.argv[0], nullptr);

    Profile profile{"/m:5 /a:2 " + std::string(300, 'x'), 0};
    EXPECT_EQ(Prepare(line, "/d", &profile), StartupAction::TooLong);
    EXPECT_EQ(line.argc, 0);
}

} // namespace
