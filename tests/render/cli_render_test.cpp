// The "zavprint FILE..." command: every file is tried, and one failure makes
// the exit status non-zero.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/cli.h"
#include "render_test_support.h"

namespace {

using zavtest::ScratchDir;
using zavtest::Text;

int RunCommand(std::vector<std::string> args, std::string* out, std::string* err) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = zav::cli::RunRender(static_cast<int>(argv.size()), argv.data());
    *out = testing::internal::GetCapturedStdout();
    *err = testing::internal::GetCapturedStderr();
    return status;
}

TEST(CliRender, ReportsEachFileAndFailsWhenAnyFails) {
    ScratchDir dir;
    zavtest::WriteBytes(dir.File("a.cpt"), Text("AB\r\n"));
    zavtest::WriteBytes(dir.File("empty.cpt"), {});
    zavtest::WriteBytes(dir.File("b.cpt"), Text("CD\r\n"));
    std::string out, err;

    EXPECT_EQ(RunCommand({dir.File("a.cpt"), dir.File("b.cpt")}, &out, &err), 0);
    EXPECT_NE(out.find(dir.File("a.bmp")), std::string::npos) << out;
    EXPECT_NE(out.find(dir.File("b.bmp")), std::string::npos) << out;
    EXPECT_EQ(err, "");

    // A failing file in the middle does not stop the ones after it.
    std::filesystem::remove(dir.path() / "b.bmp");
    EXPECT_EQ(
        RunCommand({dir.File("empty.cpt"), dir.File("missing.cpt"), dir.File("b.cpt")}, &out, &err),
        1);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "b.bmp"));
    EXPECT_NE(err.find("empty.cpt: not rendered: "), std::string::npos) << err;
    EXPECT_NE(err.find("missing.cpt: not rendered: the capture file cannot be opened"),
              std::string::npos)
        << err;

    EXPECT_NE(RunCommand({}, &out, &err), 0);
}

} // namespace
