#include "report/index_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

class IndexPage : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zav_index_" + std::to_string(std::random_device{}()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    int Add(const std::string& name, unsigned pages, std::string* aside = nullptr) const {
        return zav::AddToIndexPage(dir_.string(),
                                   {name, "2026-12-07 09:05:03", pages, name + "001.bmp"}, aside);
    }

    fs::path dir_;
};

TEST_F(IndexPage, NewRowsGoOnTopAndEveryOtherRowStays) {
    // A row that somebody else wrote, in a page of ours.
    const std::string foreignRow = "<tr class=\"capture\" data-name=\"x\"><td>by hand</td></tr>";
    Write("index.html", "<html>\n<!-- captures: one row per line, newest first -->\n" + foreignRow +
                            "\n<!-- end of captures -->\n</html>\n");
    ASSERT_EQ(Add("lab-1", 2), zav::kIndexOk);
    ASSERT_EQ(Add("lab-2", 5), zav::kIndexOk);
    ASSERT_EQ(Add("lab-1", 3), zav::kIndexOk); // the same capture again: its row is replaced
    const std::string page = Read("index.html");
    const std::size_t two = page.find("data-name=\"lab-2\"");
    const std::size_t one = page.find("data-name=\"lab-1\"");
    const std::size_t foreign = page.find(foreignRow + "\r\n");
    ASSERT_NE(two, std::string::npos);
    ASSERT_NE(foreign, std::string::npos) << page;
    EXPECT_LT(one, two);
    EXPECT_LT(two, foreign);
    EXPECT_EQ(page.find("data-name=\"lab-1\"", one + 1), std::string::npos);
    EXPECT_NE(page.find("<td>3</td>"), std::string::npos);
    EXPECT_NE(page.find("<img src=\"lab-2001.bmp\""), std::string::npos);
    EXPECT_NE(page.find("<a href=\"lab-2.html\">lab-2</a>"), std::string::npos);
    // Nothing is left beside it.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(IndexPage, APageThatIsNotOursIsMovedAsideNotOverwritten) {
    Write("index.html", "my own page");
    std::string aside;
    ASSERT_EQ(Add("lab-1", 1, &aside), zav::kIndexOk);
    EXPECT_EQ(fs::path(aside).filename(), "index-previous.html");
    EXPECT_EQ(Read("index-previous.html"), "my own page");
    Write("index.html", "another page");
    ASSERT_EQ(Add("lab-2", 1, &aside), zav::kIndexOk);
    EXPECT_EQ(Read("index-previous-2.html"), "another page");
    EXPECT_NE(Read("index.html").find("data-name=\"lab-2\""), std::string::npos);
}

// Whatever the name holds, the row stays one line and its addresses point at
// the capture's own files.
TEST_F(IndexPage, NamesAreEscapedOnOneLine) {
    const std::string row = zav::IndexRow({"a\"b<c>&\nd %#?", "t", 1, "a\"b<c>&\nd %#?.bmp"});
    EXPECT_EQ(row.find('\n'), std::string::npos);
    EXPECT_EQ(row.find("<c>"), std::string::npos);
    EXPECT_NE(row.find("href=\"a%22b%3Cc%3E%26%0Ad%20%25%23%3F.html\""), std::string::npos) << row;
    EXPECT_NE(row.find(">a&quot;b&lt;c&gt;&amp;&#10;d %#?</a>"), std::string::npos) << row;
}

} // namespace
