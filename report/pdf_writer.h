// PDF of a printout: one PDF page per page bitmap, each bitmap at the size it
// has on paper (in the basic model a dot column 1/60 inch wide and a raster
// row 1/72 inch tall; the pitch that the bitmap's header states) as
// a 1-bit image compressed with Flate, and over it the page's words as
// invisible text (text render mode 3): each character in a cell exactly over
// the cell of its glyph, so that a viewer finds, highlights and copies the
// words where the picture shows them. The writer streams: each page goes to
// the file as it is added, so a long printout needs no more memory than its
// largest page.
//
// The text is set in Courier, one of the fonts every viewer has, at a
// horizontal scaling that makes each character exactly as wide as its cell.
// A font resource is one block of 256 Unicode code points (/F0 for U+0000 to
// U+00FF, /F25 for the box drawing characters U+2500 to U+25FF, ...): a
// character's code in it is the low byte of its code point, and the font's
// ToUnicode map gives every code back its code point, so that copying gives
// the right characters whatever table the printer printed them from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zav {

class OutputFile;
class PageDeflater;
class PageText;

enum class PdfPaper { A4, Letter };

// The paper named `name` ("a4" or "letter", in any case); false for others.
bool ParsePdfPaper(std::string_view name, PdfPaper& paper);
const char* PdfPaperName(PdfPaper paper);

// The margin around the image: the whole dots and rows that cover 10 mm, so
// that the image lies on the printer's own grid of dots.
inline constexpr std::uint32_t kPdfMarginDots = 24; // 24/60 inch = 10.16 mm
inline constexpr std::uint32_t kPdfMarginRows = 29; // 29/72 inch = 10.23 mm

// Where a page and its image lie, in points (1/72 inch) from the bottom left
// of the page.
struct PdfPageLayout {
    double pageWidth = 0;
    double pageHeight = 0;
    double imageX = 0;
    double imageY = 0;
    double imageWidth = 0;
    double imageHeight = 0;
};

// A bitmap of `dots` x `rows` at its printed size (a dot 1/dotsPerInch inch
// wide, a row 1/rowsPerInch inch tall), at the top left inside the margin of
// `paper`. In a direction in which it does not fit the paper within the
// margin on both sides, the page is the image plus that margin on both sides
// instead; the image is never scaled.
PdfPageLayout LayOutPdfPage(std::uint32_t dots, std::uint32_t rows, PdfPaper paper,
                            double dotsPerInch = 60, double rowsPerInch = 72);

// One page's picture: packed 1-bit rows, the first dot in the high bit of a
// row's first byte.
struct PdfImage {
    std::uint32_t width = 0;            // dots
    std::uint32_t height = 0;           // rows
    std::size_t stride = 0;             // bytes from one row to the next, at least (width + 7) / 8
    const std::uint8_t* rows = nullptr; // the first row stored
    bool setBitIsBlack = true;          // else a clear bit is a black dot
    bool bottomUp = false;              // the rows are stored bottom row first (as in a BMP)
    double dotsPerInch = 60;            // its printed size
    double rowsPerInch = 72;
};

struct PdfDocumentInfo {
    std::string title;        // any bytes; UTF-8 is shown as such
    std::string producer;     // likewise
    std::int64_t created = 0; // seconds since 1970-01-01 UTC
};

// A PDF text string: "(text)" with its specials escaped when the text is
// printable ASCII, else "<FEFF...>" in UTF-16BE (a byte that is no part of
// valid UTF-8 becomes U+FFFD).
std::string PdfTextString(std::string_view text);

// "D:YYYYMMDDHHmmSSZ" for a time in seconds since 1970 UTC.
std::string PdfDate(std::int64_t secondsSince1970);

// A page's image as the PDF stores it, made by PdfCompressor.
struct PdfPageImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool setBitIsBlack = true;
    double dotsPerInch = 60;
    double rowsPerInch = 72;
    std::vector<std::uint8_t> data; // the image stream's bytes
};

// A page's invisible text as the PDF holds it, made by PdfCompressor.
struct PdfPageText {
    std::vector<std::uint8_t> content; // the Flate-compressed content stream; empty: no text
    std::vector<std::uint32_t> blocks; // the fonts it uses (code point / 256), ascending
};

// The content stream that puts `text` (in the dots and rows of a bitmap of
// `dots` x `rows` at the given pitch) over the image of a page laid out by
// LayOutPdfPage; `blocks` receives the fonts it uses. Empty when the page
// shows no word.
std::string PdfTextContent(const PageText& text, std::uint32_t dots, std::uint32_t rows,
                           PdfPaper paper, std::vector<std::uint32_t>& blocks,
                           double dotsPerInch = 60, double rowsPerInch = 72);

// Compresses pages for the PDF with Flate: images and text content streams,
// each with a PageDeflater (page_deflate.h) of their own, which keeps its
// codes from one page to the next; one per thread.
class PdfCompressor {
  public:
    PdfCompressor();
    ~PdfCompressor();
    PdfCompressor(const PdfCompressor&) = delete;
    PdfCompressor& operator=(const PdfCompressor&) = delete;

    // False when the image's fields do not fit together, when it is too
    // large for one stream (1 GiB of rows).
    bool Compress(const PdfImage& image, PdfPageImage& out);
    // The text layer of a page of `dots` x `rows` at the given pitch
    // (PdfTextContent, then compressed).
    bool CompressText(const PageText& text, std::uint32_t dots, std::uint32_t rows, PdfPaper paper,
                      PdfPageText& out, double dotsPerInch = 60, double rowsPerInch = 72);

  private:
    std::unique_ptr<PageDeflater> images_;
    std::unique_ptr<PageDeflater> text_;
};

class PdfWriter {
  public:
    // Writes to `out`, which stays the caller's to put in place. The header
    // is written at once.
    PdfWriter(OutputFile& out, PdfPaper paper);
    PdfWriter(const PdfWriter&) = delete;
    PdfWriter& operator=(const PdfWriter&) = delete;

    // Adds a page showing `image` (a page of width or height 0 is an empty
    // page of paper size) with `text` (may be null) over it. False once
    // anything failed.
    bool AddPage(const PdfImage& image, const PageText* text = nullptr);
    bool AddPage(const PdfPageImage& image, const PdfPageText* text = nullptr);
    // Writes the page tree, the document information and the cross-reference
    // table. False when anything since the start failed.
    bool Finish(const PdfDocumentInfo& info);

    std::size_t PageCount() const { return pages_.size(); }

  private:
    std::uint32_t NewObject();
    void BeginObject(std::uint32_t number);
    // Writes the pieces one after the other.
    template <class... Pieces> void Put(const Pieces&... pieces) { (PutText(pieces), ...); }
    void PutText(std::string_view text);
    void PutBytes(const void* data, std::size_t size);
    // The object of the content stream `content`, written when first used:
    // pages of one size share it.
    std::uint32_t ContentObject(const std::string& content);
    // The font object of a block of code points, written when first used.
    std::uint32_t FontObject(std::uint32_t block);

    OutputFile& out_;
    PdfPaper paper_;
    bool ok_ = true;
    std::uint64_t written_ = 0;
    std::vector<std::uint64_t> offsets_; // by object number; 0 is the free head
    std::vector<std::uint32_t> pages_;   // page object numbers, in order
    std::vector<std::pair<std::string, std::uint32_t>> contents_; // content streams written
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fonts_;  // block, font object
    std::uint32_t widthsObject_ = 0; // the character widths all fonts share
    PdfCompressor compressor_;
    PdfPageImage image_; // for AddPage of an uncompressed page
    PdfPageText text_;
};

} // namespace zav
