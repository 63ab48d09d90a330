// The PDF writer on its own: page geometry, the file's cross references and
// image data read back with zlib, text strings, the page bitmap reader, and
// how the PDF takes its name.
#include "base/output_file.h"
#include "report/pdf_printout.h"
#include "report/pdf_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../render/render_test_support.h"
#include "base/stdio_file.h"
#include "render/page_bitmap.h"

namespace {

namespace fs = std::filesystem;
using zavtest::Bytes;

TEST(PdfLayout, ImageAtPrintedSizeInsideTheMarginOrOnItsOwnLargerPage) {
    struct Case {
        std::uint32_t dots, rows;
        zav::PdfPaper paper;
        double pageWidth, pageHeight;
    } cases[] = {
        {384, 354, zav::PdfPaper::A4, 595.276, 841.89},
        // The widest and tallest images that fit A4 and Letter inside 10 mm
        // margins, and one dot or row more.
        {448, 783, zav::PdfPaper::A4, 595.276, 841.89},
        {449, 784, zav::PdfPaper::A4, 449 * 1.2 + 57.6, 784 + 58.0},
        {462, 734, zav::PdfPaper::Letter, 612, 792},
        {463, 735, zav::PdfPaper::Letter, 463 * 1.2 + 57.6, 735 + 58.0},
        // Too wide only: the height stays the paper's.
        {2048, 354, zav::PdfPaper::A4, 2048 * 1.2 + 57.6, 841.89},
        {0, 0, zav::PdfPaper::Letter, 612, 792},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.dots) + " x " + std::to_string(c.rows));
        const zav::PdfPageLayout l = zav::LayOutPdfPage(c.dots, c.rows, c.paper);
        EXPECT_NEAR(l.pageWidth, c.pageWidth, 1e-6);
        EXPECT_NEAR(l.pageHeight, c.pageHeight, 1e-6);
        // Never scaled: a dot is 1.2 points wide and a row 1 point tall, up
        // to the fiftieth of a dot the edges keep inside the grid.
        EXPECT_NEAR(l.imageWidth, c.dots * 1.2, 0.05);
        EXPECT_NEAR(l.imageHeight, c.rows * 1.0, 0.05);
        EXPECT_LE(l.imageWidth, c.dots * 1.2);
        // Top left, at least 10 mm (28.35 points) from the left and top edges.
        EXPECT_NEAR(l.imageX, 28.8, 0.05);
        EXPECT_GE(l.imageX, 28.35);
        EXPECT_NEAR(l.pageHeight - (l.imageY + l.imageHeight), 29, 0.05);
        EXPECT_GE(l.pageWidth - l.imageX - l.imageWidth, 28.35);
        EXPECT_GE(l.imageY, 28.35);
    }
}

TEST(PdfText, StringsAndDates) {
    EXPECT_EQ(zav::PdfTextString("ZAV Print - run (2)\\x"), "(ZAV Print - run \\(2\\)\\\\x)");
    EXPECT_EQ(zav::PdfTextString("Pr\xC3\xBC"
                                 "f"),
              "<FEFF0050007200FC0066>");
    // A stray byte, a cut-off sequence, an overlong form; then a character
    // outside the basic plane as a surrogate pair.
    EXPECT_EQ(zav::PdfTextString("a\xFF"
                                 "b\xC3"),
              "<FEFF0061FFFD0062FFFD>");
    EXPECT_EQ(zav::PdfTextString("\xC0\xAF"), "<FEFFFFFDFFFD>");
    EXPECT_EQ(zav::PdfTextString("\xF0\x9F\x96\xA8"), "<FEFFD83DDDA8>");
    EXPECT_EQ(zav::PdfTextString("line\nbreak"), "<FEFF006C0069006E0065000A0062007200650061006B>");
    EXPECT_EQ(zav::PdfDate(0), "D:19700101000000Z");
    EXPECT_EQ(zav::PdfDate(1700000000), "D:20231114221320Z");
    EXPECT_EQ(zav::PdfDate(951782400), "D:20000229000000Z");

    zav::PdfPaper paper = zav::PdfPaper::A4;
    EXPECT_TRUE(zav::ParsePdfPaper("LETTER", paper));
    EXPECT_EQ(paper, zav::PdfPaper::Letter);
    EXPECT_TRUE(zav::ParsePdfPaper("a4", paper));
    EXPECT_EQ(paper, zav::PdfPaper::A4);
    EXPECT_FALSE(zav::ParsePdfPaper("a5", paper));
    EXPECT_FALSE(zav::ParsePdfPaper("", paper));
}

// A PDF read back far enough to check what the writer promises.
struct ParsedPdf {
    std::string bytes;
    std::map<int, std::size_t> objects; // number -> offset, from the xref table
    std::vector<std::string> imageDicts;
    std::vector<Bytes> imageData; // inflated
};

::testing::AssertionResult Parse(const std::string& bytes, ParsedPdf& pdf) {
    pdf = ParsedPdf{};
    pdf.bytes = bytes;
    if (bytes.rfind("%PDF-1.", 0) != 0)
        return ::testing::AssertionFailure() << "no PDF header";
    const std::size_t sx = bytes.rfind("startxref\n");
    if (sx == std::string::npos || bytes.substr(bytes.size() - 6) != "%%EOF\n")
        return ::testing::AssertionFailure() << "no startxref or %%EOF at the end";
    const std::size_t xref = std::stoul(bytes.substr(sx + 10));
    if (bytes.compare(xref, 5, "xref\n") != 0)
        return ::testing::AssertionFailure() << "startxref does not point at the table";
    std::size_t at = bytes.find('\n', xref + 5) + 1;
    const int count = std::stoi(bytes.substr(xref + 7));
    for (int n = 0; n < count; ++n, at += 20) {
        const std::string entry = bytes.substr(at, 20);
        if (entry.size() != 20 || entry.substr(18) != " \n")
            return ::testing::AssertionFailure() << "entry " << n << " is not 20 bytes";
        if (n == 0)
            continue;
        const std::size_t offset = std::stoul(entry.substr(0, 10));
        const std::string head = std::to_string(n) + " 0 obj\n";
        if (bytes.compare(offset, head.size(), head) != 0)
            return ::testing::AssertionFailure() << "object " << n << " is not at " << offset;
        pdf.objects[n] = offset;
    }
    for (std::size_t pos = bytes.find("/Subtype /Image"); pos != std::string::npos;
         pos = bytes.find("/Subtype /Image", pos + 1)) {
        const std::size_t end = bytes.find(">>\nstream\n", pos);
        const std::size_t dictStart = bytes.rfind("<<", pos);
        pdf.imageDicts.push_back(bytes.substr(dictStart, end - dictStart));
        const std::size_t len = bytes.find("/Length ", pos);
        const std::size_t length = std::stoul(bytes.substr(len + 8));
        const std::size_t data = end + 10;
        if (bytes.compare(data + length, 11, "\nendstream\n") != 0)
            return ::testing::AssertionFailure() << "image stream length is wrong";
        Bytes out(1 << 20);
        uLongf outLength = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &outLength, reinterpret_cast<const Bytef*>(&bytes[data]),
                       static_cast<uLong>(length)) != Z_OK)
            return ::testing::AssertionFailure() << "image stream does not inflate";
        out.resize(outLength);
        pdf.imageData.push_back(out);
    }
    return ::testing::AssertionSuccess();
}

std::string ReadText(const std::string& path) {
    const Bytes b = zavtest::ReadBytes(path);
    return std::string(b.begin(), b.end());
}

TEST(PdfWriter, CrossReferencesAndImageDataReadBack) {
    zavtest::ScratchDir dir;
    const std::string path = dir.File("doc.pdf");
    // A 12 x 3 image in rows of 4 bytes (fill between rows) whose set bits are
    // black, an empty page, and a 8 x 2 image whose clear bits are black.
    const std::uint8_t padded[] = {0xF0, 0x30, 0xEE, 0xEE, 0x01, 0x10,
                                   0xEE, 0xEE, 0x80, 0xF0, 0xEE, 0xEE};
    const std::uint8_t dense[] = {0x0F, 0xA5};
    zav::PdfImage a;
    a.width = 12, a.height = 3, a.stride = 4, a.rows = padded;
    zav::PdfImage b;
    b.width = 8, b.height = 2, b.stride = 1, b.rows = dense, b.setBitIsBlack = false;
    // A row shorter than the width says is refused, and so is all that follows.
    zav::PdfImage bad = b;
    bad.width = 9;
    zav::PdfDocumentInfo info;
    info.title = "ZAV Print - doc";
    info.producer = "test";
    info.created = 1700000000;
    const auto write = [&](bool withBad) {
        zav::OutputFile out(path);
        zav::PdfWriter writer(out, zav::PdfPaper::Letter);
        EXPECT_TRUE(writer.AddPage(a));
        EXPECT_TRUE(writer.AddPage(zav::PdfImage{}));
        EXPECT_TRUE(writer.AddPage(b));
        EXPECT_EQ(writer.AddPage(bad), !withBad);
        EXPECT_EQ(writer.PageCount(), withBad ? 3u : 4u);
        EXPECT_EQ(writer.Finish(info), !withBad);
        EXPECT_TRUE(out.Commit());
    };
    write(true);
    // After a failure nothing more is written: the file has no trailer and
    // cannot pass for a whole PDF.
    ParsedPdf pdf;
    ASSERT_FALSE(Parse(ReadText(path), pdf));

    // Written without the refused page, the file is whole.
    bad = b;
    write(false);
    ASSERT_TRUE(Parse(ReadText(path), pdf));
    // Catalog, page tree, information, then per page image (if any), content
    // and page; pages of one size share one content stream.
    EXPECT_EQ(pdf.objects.size(), 3u + 3 + 2 + 3 + 2);
    const auto contents = [&](int page) {
        std::size_t at = 0;
        for (int n = 0; n <= page; ++n)
            at = pdf.bytes.find("/Type /Page ", at + 1);
        return std::stoi(pdf.bytes.substr(pdf.bytes.find("/Contents ", at) + 10));
    };
    EXPECT_EQ(contents(2), contents(3));
    EXPECT_NE(contents(0), contents(2));
    EXPECT_NE(contents(1), contents(2));
    // The paper's size is the page tree's, for every page that has it.
    EXPECT_NE(pdf.bytes.find("/Type /Pages /MediaBox [0 0 612 792] /Count 4"), std::string::npos);
    EXPECT_EQ(pdf.bytes.find("/Type /Page /Parent 2 0 R /MediaBox"), std::string::npos);
    EXPECT_NE(pdf.bytes.find("/Title (ZAV Print - doc)"), std::string::npos);
    EXPECT_NE(pdf.bytes.find("/CreationDate (D:20231114221320Z)"), std::string::npos);
    ASSERT_EQ(pdf.imageData.size(), 3u);
    EXPECT_EQ(pdf.imageData[0], (Bytes{0xF0, 0x30, 0x01, 0x10, 0x80, 0xF0}));
    EXPECT_NE(pdf.imageDicts[0].find("/Width 12 /Height 3"), std::string::npos);
    EXPECT_NE(pdf.imageDicts[0].find("/Decode [1 0]"), std::string::npos);
    EXPECT_EQ(pdf.imageData[1], (Bytes{0x0F, 0xA5}));
    EXPECT_NE(pdf.imageDicts[1].find("/Decode [0 1]"), std::string::npos);
    for (const std::string& dict : pdf.imageDicts)
        EXPECT_NE(dict.find("/BitsPerComponent 1 "), std::string::npos);
}

// A page bitmap as the renderer lays it out: 62-byte header, rows bottom-up.
Bytes RendererBitmap(std::int32_t width, const std::vector<Bytes>& topDown) {
    zav::PageBitmapHeader header = zav::BlankPageBitmapHeader();
    const std::size_t stride = static_cast<std::size_t>(width) / 8;
    zav::CompletePageBitmapHeader(header, static_cast<std::uint32_t>(62 + stride * topDown.size()),
                                  width, static_cast<std::int32_t>(topDown.size()));
    Bytes file(header.bytes, header.bytes + 62);
    for (auto row = topDown.rbegin(); row != topDown.rend(); ++row)
        file.insert(file.end(), row->begin(), row->end());
    return file;
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(PageBitmapReader, RowsTopFirstAndTheInkFromThePalette) {
    zavtest::ScratchDir dir;
    const std::string path = dir.File("p.bmp");
    const std::vector<Bytes> rows = {{0x80, 0, 0, 0x01}, {0, 0xFF, 0, 0}, {0x55, 0, 0, 0xAA}};
    const Bytes file = RendererBitmap(32, rows);
    zavtest::WriteBytes(path, file);
    zav::PageBitmapPixels page;
    ASSERT_TRUE(zav::ReadPageBitmap(path.c_str(), page));
    EXPECT_EQ(page.width, 32u);
    EXPECT_EQ(page.height, 3u);
    EXPECT_EQ(page.stride, 4u);
    EXPECT_TRUE(page.setBitIsBlack);
    EXPECT_EQ(page.rows, (Bytes{0x80, 0, 0, 0x01, 0, 0xFF, 0, 0, 0x55, 0, 0, 0xAA}));

    // Palette the other way round; rows stored top-down (negative height).
    Bytes other = file;
    std::swap_ranges(other.begin() + 54, other.begin() + 58, other.begin() + 58);
    Put32(other, 22, static_cast<std::uint32_t>(-3));
    std::copy(rows[0].begin(), rows[0].end(), other.begin() + 62);
    std::copy(rows[2].begin(), rows[2].end(), other.begin() + 70);
    zavtest::WriteBytes(path, other);
    ASSERT_TRUE(zav::ReadPageBitmap(path.c_str(), page));
    EXPECT_FALSE(page.setBitIsBlack);
    EXPECT_EQ(page.rows, (Bytes{0x80, 0, 0, 0x01, 0, 0xFF, 0, 0, 0x55, 0, 0, 0xAA}));

    // Width 0 or no rows: a page without an image.
    zavtest::WriteBytes(path, RendererBitmap(0, {}));
    ASSERT_TRUE(zav::ReadPageBitmap(path.c_str(), page));
    EXPECT_EQ(page.width, 0u);
    EXPECT_TRUE(page.rows.empty());
}

TEST(PageBitmapReader, RefusesWhatIsNotWholeOrNotOneBit) {
    zavtest::ScratchDir dir;
    const std::string path = dir.File("p.bmp");
    const Bytes good = RendererBitmap(64, std::vector<Bytes>(5, Bytes(8, 0x5A)));
    zav::PageBitmapPixels page;
    // Every cut-off copy.
    for (std::size_t size = 0; size < good.size(); ++size) {
        zavtest::WriteBytes(path, Bytes(good.begin(), good.begin() + static_cast<long>(size)));
        EXPECT_FALSE(zav::ReadPageBitmap(path.c_str(), page)) << size << " bytes";
    }
    struct Change {
        const char* what;
        std::size_t at;
        std::uint32_t value;
    } changes[] = {
        {"type", 0, 0x4D42 ^ 0x2020},
        {"pixels beyond the end", 10, 0x10000},
        {"pixels inside the palette", 10, 60},
        {"header size", 14, 12},
        {"header beyond the file", 14, 0x7FFFFFF0},
        {"4 bits per dot", 28, 0x00010004},
        {"compressed", 30, 1},
        {"negative width", 18, 0xFFFFFFC0},
        {"huge width", 18, 0x40000000},
        {"more rows than bytes", 22, 6},
        {"most negative height", 22, 0x80000000},
        {"one colour", 46, 1},
        {"sixteen colours", 46, 16},
    };
    for (const Change& c : changes) {
        Bytes bad = good;
        if (c.at == 28) {
            bad[26] = 1, bad[27] = 0, bad[28] = 4, bad[29] = 0;
        } else if (c.at == 0) {
            bad[0] = 'b';
        } else {
            Put32(bad, c.at, c.value);
        }
        zavtest::WriteBytes(path, bad);
        EXPECT_FALSE(zav::ReadPageBitmap(path.c_str(), page)) << c.what;
    }
    EXPECT_FALSE(zav::ReadPageBitmap(dir.File("missing.bmp").c_str(), page));
    EXPECT_FALSE(zav::ReadPageBitmap(dir.path().string().c_str(), page));
    zavtest::WriteBytes(path, good);
    EXPECT_TRUE(zav::ReadPageBitmap(path.c_str(), page));
}

TEST(PrintoutPdf, TakesItsNameOnlyWholeAndNeverAFileThatMustStay) {
    zavtest::ScratchDir dir;
    const std::string bmp1 = dir.File("run001.bmp"), bmp2 = dir.File("run002.bmp");
    zavtest::WriteBytes(bmp1, RendererBitmap(32, {{0xFF, 0, 0, 0xFF}}));
    zavtest::WriteBytes(bmp2, RendererBitmap(64, std::vector<Bytes>(3, Bytes(8, 0x81))));
    const std::string pdf = dir.File("run") + ".pdf";
    EXPECT_EQ(pdf, dir.File("run.pdf"));

    // A user's file under the work name stays as it is.
    zavtest::WriteBytes(pdf + ".part", zavtest::Text("mine"));
    zav::PrintoutPdfOptions options;
    std::string failed;
    ASSERT_EQ(zav::WritePrintoutPdf(pdf, {bmp1, bmp2}, options, &failed), zav::kPdfOk);
    ParsedPdf parsed;
    ASSERT_TRUE(Parse(ReadText(pdf), parsed));
    EXPECT_EQ(parsed.imageData.size(), 2u);
    EXPECT_NE(parsed.bytes.find("/Title (ZAV Print - run)"), std::string::npos);
    EXPECT_NE(parsed.bytes.find("/Producer (ZAV Print Utility "), std::string::npos);
    EXPECT_EQ(ReadText(pdf + ".part"), "mine");
    const std::string whole = ReadText(pdf);

    // A page that cannot be read: no PDF is made, the earlier one stays whole
    // and no work file is left.
    zavtest::WriteBytes(bmp2, zavtest::Text("BM not a bitmap"));
    EXPECT_EQ(zav::WritePrintoutPdf(pdf, {bmp1, bmp2}, options, &failed), zav::kPdfBadBitmap);
    EXPECT_EQ(failed, bmp2);
    EXPECT_EQ(ReadText(pdf), whole);
    EXPECT_EQ(dir.List(),
              (std::vector<std::string>{"run.pdf", "run.pdf.part", "run001.bmp", "run002.bmp"}));
    EXPECT_EQ(zav::WritePrintoutPdf(pdf, {}, options, &failed), zav::kPdfNoPages);

    // A whole new PDF replaces the earlier one (on Windows too).
    ASSERT_EQ(zav::WritePrintoutPdf(pdf, {bmp1}, options, &failed), zav::kPdfOk);
    ASSERT_TRUE(Parse(ReadText(pdf), parsed));
    EXPECT_EQ(parsed.imageData.size(), 1u);

    // A recording that lies under the PDF's name is never replaced.
    const std::string raw = dir.File("rec.pdf");
    zavtest::WriteBytes(raw, zavtest::Text("recording"));
    options.keep = {raw};
    EXPECT_EQ(zav::WritePrintoutPdf(raw, {bmp1}, options, &failed), zav::kPdfWouldReplace);
    EXPECT_EQ(ReadText(raw), "recording");
    EXPECT_EQ(zav::WritePrintoutPdf(bmp1, {bmp1}, zav::PrintoutPdfOptions{}, &failed),
              zav::kPdfWouldReplace);

    // A folder in the PDF's place: the rename fails and the work file goes.
    fs::create_directory(dir.File("box.pdf"));
    EXPECT_EQ(zav::WritePrintoutPdf(dir.File("box.pdf"), {bmp1}, zav::PrintoutPdfOptions{}),
              zav::kPdfCannotWrite);
    EXPECT_FALSE(fs::exists(dir.File("box.pdf.part")));
    EXPECT_EQ(
        zav::WritePrintoutPdf(dir.File("no/such/folder.pdf"), {bmp1}, zav::PrintoutPdfOptions{}),
        zav::kPdfCannotCreate);
}

// Pages made on several threads, some from bytes in memory and some read
// back, go into the PDF in the order they came; one left unfinished leaves
// nothing behind.
TEST(PrintoutPdf, PagesKeepTheirOrderWhicheverThreadMadeThem) {
    zavtest::ScratchDir dir;
    zav::PrintoutPdfOptions options;
    options.workers = 3;
    const std::string path = dir.File("run.pdf");
    std::vector<Bytes> rows;
    {
        zav::PrintoutPdf pdf(path, options);
        for (int i = 0; i < 40; ++i) {
            rows.push_back({static_cast<std::uint8_t>(i), 0x55, 0, static_cast<std::uint8_t>(~i)});
            const Bytes file = RendererBitmap(32, {rows.back()});
            const std::string bmp = dir.File("run" + std::to_string(100 + i) + ".bmp");
            // A page given as bytes is not read back: its file may differ.
            zavtest::WriteBytes(bmp, i % 2 ? zavtest::Text("BM gone") : file);
            pdf.Add(bmp, i % 2 ? file : Bytes{});
        }
        ASSERT_EQ(pdf.Finish(), zav::kPdfOk);
    }
    ParsedPdf parsed;
    ASSERT_TRUE(Parse(ReadText(path), parsed));
    EXPECT_EQ(parsed.imageData, rows);
    const std::string whole = ReadText(path);

    {
        zav::PrintoutPdf unfinished(path, options);
        unfinished.Add(dir.File("run100.bmp"));
    }
    EXPECT_EQ(ReadText(path), whole);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().extension(), entry.path().filename() == "run.pdf" ? ".pdf" : ".bmp");
}

} // namespace
