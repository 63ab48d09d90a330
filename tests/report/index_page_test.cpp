#include "report/index_page.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        return zav::AddToIndexPage(
            dir_.string(), {name, "2026-12-07 09:05:03", pages, name + "001.bmp", ""}, aside);
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
    const std::string row = zav::IndexRow({"a\"b<c>&\nd %#?", "t", 1, "a\"b<c>&\nd %#?.bmp", ""});
    EXPECT_EQ(row.find('\n'), std::string::npos);
    EXPECT_EQ(row.find("<c>"), std::string::npos);
    EXPECT_NE(row.find("href=\"a%22b%3Cc%3E%26%0Ad%20%25%23%3F.html\""), std::string::npos) << row;
    EXPECT_NE(row.find(">a&quot;b&lt;c&gt;&amp;&#10;d %#?</a>"), std::string::npos) << row;
}

// The words go into side scripts of a bounded size, which the page lists
// once each, in order; a capture added again replaces its own words.
TEST_F(IndexPage, WordsGoIntoBoundedSideScriptsThePageLists) {
    // Rows written before the page had a search box stay.
    Write("index.html", "<html>\n<!-- captures: one row per line, newest first -->\n"
                        "<tr class=\"capture\" data-name=\"old\"><td>old</td></tr>\n"
                        "<!-- end of captures -->\n</html>\n");
    const std::string odd = "say \"hi\"\\ \x01\n" + std::string("\xE2\x80\xA8") + "end\f2nd page\n";
    const std::size_t count = zav::kTextScriptCaptures + 6;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = "cap-" + std::to_string(i);
        ASSERT_EQ(zav::AddCaptureToIndex(dir_.string(), {name, "t", 2, "", ""},
                                         "Serial no. " + std::to_string(1000 + i) + "\n" + odd),
                  zav::kIndexOk);
    }
    ASSERT_EQ(zav::AddCaptureToIndex(dir_.string(), {"cap-68", "t", 2, "", ""}, "again\n"),
              zav::kIndexOk);
    const std::string first = Read("index-text-0001.js"), second = Read("index-text-0002.js");
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 1 + zav::kTextScriptCaptures);
    EXPECT_EQ(second.find("Serial no. 1068"), std::string::npos) << "replaced";
    EXPECT_NE(second.find("zavText(\"cap-68\", [\"again\\u000a\"]);\r\n"), std::string::npos)
        << second;
    EXPECT_NE(second.find("[\"Serial no. 1069\\u000asay \\\"hi\\\"\\\\ \\u0001\\u000a\\u2028end\", "
                          "\"2nd page\\u000a\"]);"),
              std::string::npos)
        << second;
    EXPECT_FALSE(fs::exists(dir_ / "index-text-0003.js"));
    // They belong to the folder, not to a capture.
    EXPECT_TRUE(zav::IsIndexPageName("index-text-0002.js"));
    EXPECT_FALSE(zav::IsIndexPageName("index-text-02.js"));
    EXPECT_FALSE(zav::IsIndexPageName("index-text-0002.js.123.part"));
    const std::string page = Read("index.html");
    const std::string tag1 = "<script type=\"text/x-zav-words\" data-src=\"index-text-0001.js\">";
    const std::string tag2 = "<script type=\"text/x-zav-words\" data-src=\"index-text-0002.js\">";
    const std::size_t one = page.find(tag1), two = page.find(tag2);
    ASSERT_NE(one, std::string::npos) << page;
    EXPECT_LT(one, two);
    EXPECT_EQ(page.find("index-text-0001.js", one + tag1.size()), std::string::npos);
    EXPECT_EQ(page.find("index-text-0002.js", two + tag2.size()), std::string::npos);
    EXPECT_NE(page.find("data-name=\"old\""), std::string::npos);
    EXPECT_LT(page.find("function zavText"), one);
    EXPECT_NE(page.find("id=\"search\""), std::string::npos);

    // A script past its size takes no more captures.
    const std::string big(zav::kTextScriptBytes, 'x');
    ASSERT_EQ(zav::AddCaptureToIndex(dir_.string(), {"big", "t", 1, "", ""}, big), zav::kIndexOk);
    ASSERT_EQ(zav::AddCaptureToIndex(dir_.string(), {"after", "t", 1, "", ""}, "a"), zav::kIndexOk);
    EXPECT_NE(Read("index-text-0002.js").find("\"big\""), std::string::npos);
    EXPECT_NE(Read("index-text-0003.js").find("\r\nzavText(\"after\""), std::string::npos);
}

} // namespace
