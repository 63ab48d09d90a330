#include "report/html_report.h"

#include "render/printout.h"
#include "render/renderer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

class HtmlReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zav_report_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(std::random_device{}()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Base(const std::string& name) const { return (dir_ / name).string(); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

const char kHead[] = "<html>\r\n<head>\r\n<title>ZAV Print - run</title>\r\n</head>\r\n<body>\r\n";
const char kTail[] = "</body>\r\n</html>\r\n";

TEST_F(HtmlReportTest, ImageLinesFollowPageCountAndFlag) {
    const std::string base = Base("run");
    struct Case {
        unsigned pages;
        bool single;
        std::string body;
    } cases[] = {
        {0, false, ""},
        {0, true, ""},
        {1, true, "<img border=1 src=\"run.bmp\" alt=\"single page\">\r\n"},
        {1, false, "<img border=1 src=\"run001.bmp\" alt=\"page #1\">\r\n"},
        {3, false,
         "<img border=1 src=\"run001.bmp\" alt=\"page 1\">\r\n"
         "<P STYLE=page-break-before:always>\r\n"
         "<img border=1 src=\"run002.bmp\" alt=\"page 2\">\r\n"
         "<P STYLE=page-break-before:always>\r\n"
         "<img border=1 src=\"run003.bmp\" alt=\"page 3\">\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pages << " pages, single " << c.single);
        ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), c.pages, c.single), zav::kReportOk);
        EXPECT_EQ(Read(base + ".html"), kHead + c.body + kTail);
    }
    // From two pages on, the flag changes nothing.
    ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), 3, true), zav::kReportOk);
    EXPECT_EQ(Read(base + ".html"), kHead + cases[4].body + kTail);
}

TEST_F(HtmlReportTest, ThousandPagesThenShortReportLeavesNothingBehind) {
    const std::string base = Base("run");
    ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), 1000, false), zav::kReportOk);
    const std::string big = Read(base + ".html");
    EXPECT_EQ(big.rfind(kHead, 0), 0u);
    EXPECT_NE(big.find("<img border=1 src=\"run999.bmp\" alt=\"page 999\">\r\n"
                       "<P STYLE=page-break-before:always>\r\n"
                       "<img border=1 src=\"run1000.bmp\" alt=\"page 1000\">\r\n</body>"),
              std::string::npos);
    std::size_t images = 0, breaks = 0, lines = 0;
    for (std::size_t at = 0; (at = big.find("<img ", at)) != std::string::npos; ++at)
        ++images;
    for (std::size_t at = 0; (at = big.find("<P ", at)) != std::string::npos; ++at)
        ++breaks;
    for (std::size_t at = 0; (at = big.find("\r\n", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(images, 1000u);
    EXPECT_EQ(breaks, 999u);
    EXPECT_EQ(lines, 7u + 1999u);
    EXPECT_EQ(zav::ReportLength(), static_cast<int>(big.size()));

    ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), 0, false), zav::kReportOk);
    EXPECT_EQ(Read(base + ".html"), std::string(kHead) + kTail);
}

TEST_F(HtmlReportTest, BaseWithoutFolderIsWrittenInCurrentFolder) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    const int result = zav::WriteHtmlReport("run", 1, false);
    fs::current_path(previous);
    ASSERT_EQ(result, zav::kReportOk);
    EXPECT_EQ(Read((dir_ / "run.html").string()),
              std::string(kHead) + "<img border=1 src=\"run001.bmp\" alt=\"page #1\">\r\n" + kTail);
}

TEST_F(HtmlReportTest, NamesAreEscapedInTextAndImageSource) {
    std::string name = "R&D %1 #2";
    std::string title = "R&amp;D %1 #2";
    std::string source = "R&amp;D %251 %232";
#ifndef _WIN32
    name += " <x> \"q\"?";
    title += " &lt;x&gt; &quot;q&quot;?";
    source += " &lt;x&gt; &quot;q&quot;%3F";
#endif
    const std::string base = Base(name);
    ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), 2, false), zav::kReportOk);
    EXPECT_EQ(Read(base + ".html"), "<html>\r\n<head>\r\n<title>ZAV Print - " + title +
                                        "</title>\r\n</head>\r\n<body>\r\n"
                                        "<img border=1 src=\"" +
                                        source +
                                        "001.bmp\" alt=\"page 1\">\r\n"
                                        "<P STYLE=page-break-before:always>\r\n"
                                        "<img border=1 src=\"" +
                                        source + "002.bmp\" alt=\"page 2\">\r\n" + kTail);
}

TEST_F(HtmlReportTest, FailuresAreReportedAndNothingIsCut) {
    // A folder that does not exist: the report cannot be created.
    const std::string missing = (dir_ / "no" / "run").string();
    EXPECT_EQ(zav::WriteHtmlReport(missing.c_str(), 2, false), zav::kReportCannotCreate);
    EXPECT_FALSE(fs::exists(missing + ".html"));

    // The longest base for which every name fits the 1024-byte buffer is
    // taken; one more character is refused rather than shortened.
    std::string base = (dir_ / "no" / "").string();
    base.append(1018 - base.size(), 'a');
    EXPECT_EQ(zav::WriteHtmlReport(base.c_str(), 1, true), zav::kReportCannotCreate);
    EXPECT_EQ(zav::WriteHtmlReport((base + "a").c_str(), 0, false), zav::kReportPathTooLong);
    // 1000 pages need "1000.bmp" after the base.
    base.resize(1015);
    EXPECT_EQ(zav::WriteHtmlReport(base.c_str(), 1000, false), zav::kReportCannotCreate);
    EXPECT_EQ(zav::WriteHtmlReport((base + "a").c_str(), 1000, false), zav::kReportPathTooLong);
}

TEST_F(HtmlReportTest, SheetsOfTheEpson9ModelShowAtTheirSizeOnPaper) {
    // Two sheets of one inch (ESC "C" NUL 1), 8 inches wide, 240 x 216 dpi.
    const std::string capture = Base("run.cpt");
    std::ofstream(capture, std::ios::binary) << std::string("\033C\0\x01|\f|", 8);
    zav::CaptureRenderer epson9(zav::PrinterModel::Epson9);
    ASSERT_EQ(epson9.Render(capture.c_str()), zav::kRenderOk);
    const std::string base = Base("run");
    ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), {base + ".bmp", base + "-2.bmp"}, true),
              zav::kReportOk);
    EXPECT_EQ(
        Read(base + ".html"),
        "<html>\r\n<head>\r\n<title>ZAV Print - run</title>\r\n"
        "<meta name=\"generator\" content=\"ZAV Print Utility, Epson 9-pin printer "
        "model\">\r\n</head>\r\n<body>\r\n"
        "<img border=1 src=\"run.bmp\" alt=\"page 1\" style=\"width:8.0000in;height:1.0000in\">\r\n"
        "<P STYLE=page-break-before:always>\r\n"
        "<img border=1 src=\"run-2.bmp\" alt=\"page 2\" "
        "style=\"width:8.0000in;height:1.0000in\">\r\n" +
            std::string(kTail));
    // A basic page in the list is shown as the basic report shows it.
    zav::CaptureRenderer basic(zav::PrinterModel::Basic);
    ASSERT_EQ(basic.Render(capture.c_str()), zav::kRenderOk);
    ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), {base + ".bmp"}, true), zav::kReportOk);
    const std::string fromList = Read(base + ".html");
    ASSERT_EQ(zav::WriteHtmlReport(base.c_str(), 1, true), zav::kReportOk);
    EXPECT_EQ(fromList, Read(base + ".html"));
}

// Appends to the buffer and returns what was appended.
template <typename Emit> std::string Appended(Emit emit, int expectedResult = -2) {
    const int before = zav::ReportLength();
    const int n = emit();
    if (expectedResult != -2) {
        EXPECT_EQ(n, expectedResult);
    }
    EXPECT_EQ(n, zav::ReportLength() - before);
    return std::string(zav::ReportText() + before, zav::ReportText() + zav::ReportLength());
}

TEST(ReportBuffer, TagRuleAndLongPieces) {
    EXPECT_EQ(Appended([] { return zav::HtmlP(1, "STYLE=%s", "x"); }), "<P STYLE=x>\r\n");
    EXPECT_EQ(Appended([] { return zav::HtmlImg(0, "a=%d", 5); }), "<img a=5>");
    // Only 1 asks for a line break; an empty format means no attributes.
    EXPECT_EQ(Appended([] { return zav::HtmlBodyEnd(2); }), "</body>");
    const char* none = "";
    EXPECT_EQ(Appended([&] { return zav::HtmlTitle(1, none, 0); }), "<title>\r\n");
    EXPECT_EQ(Appended([] { return zav::HtmlHtml(1); }), "<html>\r\n");
    // A piece far longer than the headroom is appended whole, more than once.
    const std::string big(10000, 'x');
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Appended([&] { return zav::ReportAppend("%s|", big.c_str()); }, 10001),
                  big + "|");
    EXPECT_EQ(zav::ReportText()[zav::ReportLength()], '\0');
}

} // namespace
