// Names in any script and longer than Windows' 260 characters reach the
// system whole through every write path: the work file, its rename into
// place, the identity check, reading back and removal.
#include "base/utf8_names.h"

#include <algorithm>
#include <string>
#include <vector>

#include "../capture/capture_test_support.h"
#include "base/file_io.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/stdio_file.h"

namespace {

namespace fs = zavtest::fs;

using Utf8NamesTest = zavtest::CaptureFolderTest;

TEST_F(Utf8NamesTest, NamesInAnyScriptAndLongNamesAreWrittenWhole) {
    const std::string base = zav::Utf8Of(dir_);
    const std::string folder = base + zav::kPreferredSeparator + "Μετρήσεις Prüfung";
    ASSERT_TRUE(fs::create_directories(zav::PathOf(folder)));
    EXPECT_EQ(zav::Utf8Of(zav::PathOf(folder)), folder);
    // A file name of 180 characters (205 bytes: within the 255 a name may
    // take on Linux), the whole name longer than 260.
    std::string name;
    for (int i = 0; i < 25; ++i)
        name += "Lauf ä ";
    name += ".html";
    const std::string target = folder + zav::kPreferredSeparator + name;
    const auto characters = std::count_if(target.begin(), target.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    });
    ASSERT_GT(characters, 260);

    zav::OutputFile file(target);
    ASSERT_TRUE(file.Create());
    ASSERT_TRUE(file.Write("report", 6));
    ASSERT_TRUE(file.Commit());
    EXPECT_TRUE(zav::IsSameFile(target.c_str(), target.c_str()));
    EXPECT_TRUE(zav::IdentityOf(target.c_str()).known);
    {
        zav::UniqueFile read = zav::OpenFile(target.c_str(), "rb");
        ASSERT_TRUE(read);
        zav::FileBytes bytes;
        ASSERT_EQ(zav::ReadWholeFile(read.get(), bytes), zav::ReadWholeResult::Ok);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data.get()), bytes.size),
                  "report");
    }
    // Exactly that name in the folder, as the system lists it.
    std::vector<std::string> listed;
    for (const auto& entry : fs::directory_iterator(zav::PathOf(folder)))
        listed.push_back(zav::Utf8Of(entry.path().filename()));
    EXPECT_EQ(listed, std::vector<std::string>{name});

    zav::SystemError error;
    const std::string moved = folder + zav::kPreferredSeparator + "Ölmessung " + name;
    EXPECT_TRUE(zav::RenameFile(target.c_str(), moved.c_str(), error)) << error.text;
    EXPECT_FALSE(zav::IdentityOf(target.c_str()).known);
    EXPECT_FALSE(zav::IsSameFile(target.c_str(), moved.c_str()));
    EXPECT_TRUE(zav::RemoveFile(moved.c_str(), error)) << error.text;
    EXPECT_TRUE(fs::is_empty(zav::PathOf(folder)));
}

#ifdef _WIN32
// The forms Windows is handed: short names as they are, long ones whole in
// the "\\?\" form, on a network share "\\?\UNC\".
TEST(WideFileName, LongNamesTakeTheLongForm) {
    EXPECT_EQ(zav::WideFileName("C:\\Messungen\\Prüfung.cpt"), L"C:\\Messungen\\Prüfung.cpt");
    const std::string folder(300, 'x');
    EXPECT_EQ(zav::WideFileName("C:\\a/../" + folder + "/run.cpt"),
              L"\\\\?\\C:\\" + std::wstring(300, L'x') + L"\\run.cpt");
    EXPECT_EQ(zav::WideFileName("\\\\server\\share\\" + folder),
              L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'x'));
    EXPECT_EQ(zav::WholePath("\\\\server\\share\\lab\\..\\run"), "\\\\server\\share\\run");
    EXPECT_EQ(zav::Utf8OfWide(zav::WideOf("Μετρήσεις")), "Μετρήσεις");
}
#endif

} // namespace
