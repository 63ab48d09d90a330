#include "report/pdf_writer.h"

#include "base/output_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <span>

#include "base/utf8.h"
#include "render/page_text.h"
#include "render/text_sink.h"
#include "report/page_deflate.h"

namespace zav {

namespace {

struct Paper {
    double width, height; // points
};

// A4 is 210 x 297 mm, Letter 8.5 x 11 inch.
constexpr Paper kA4{595.276, 841.890};
constexpr Paper kLetter{612.0, 792.0};

Paper PaperOf(PdfPaper paper) {
    return paper == PdfPaper::Letter ? kLetter : kA4;
}

// The margin is the basic model's whole dots and rows over 10 mm, for every
// pitch: 24/60 and 29/72 inch lie on the Epson 9-pin grid (1/240 x 1/216) too.
constexpr double kMarginX = kPdfMarginDots * (72.0 / 60.0);
constexpr double kMarginY = kPdfMarginRows * 1.0;
constexpr std::uint64_t kMaxImageBytes = 1ull << 30;

// The invisible text: Courier's characters are 600/1000 of the font size
// wide; the size makes the font's ascent and descent span the cell's height,
// and the baseline lies where a viewer's highlight then covers the cell.
constexpr double kCourierWidth = 0.6;
constexpr double kFontSizePerPoint = 1.25; // of a row's height
constexpr double kBaselineInCell = 0.8;    // of the cell's height, from its top

// A length in thousandths of a point as the PDF writes it: up to three
// decimals, no trailing zeros, never in a locale's style.
void AppendMilli(std::string& out, long long milli) {
    if (milli < 0)
        out += '-';
    unsigned long long whole = static_cast<unsigned long long>(milli < 0 ? -milli : milli);
    char digits[24];
    int n = 0;
    unsigned fraction = static_cast<unsigned>(whole % 1000);
    whole /= 1000;
    do {
        digits[n++] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole);
    while (n)
        out += digits[--n];
    if (fraction) {
        out += '.';
        for (unsigned place = 100; fraction; place /= 10) {
            out += static_cast<char>('0' + fraction / place);
            fraction %= place;
        }
    }
}

long long Milli(double value) {
    return std::llround(value * 1000.0);
}

// A length in points with up to three decimals.
std::string Number(double value) {
    std::string text;
    AppendMilli(text, Milli(value));
    return text;
}

// The text drawing state of a content stream, so that only what changes is set.
struct TextState {
    std::uint32_t block = 0xFFFFFFFF; // font
    double size = -1;
    double scaling = -1;
};

// A run of characters of one block as a PDF string of their low bytes.
void AppendPdfString(std::string& out, std::u32string_view chars) {
    out += '(';
    for (const char32_t c : chars) {
        const unsigned byte = c & 0xFF;
        if (byte == '(' || byte == ')' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte >= 0x7F) {
            const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                                  static_cast<char>('0' + ((byte >> 3) & 7)),
                                  static_cast<char>('0' + (byte & 7))};
            out.append(octal, 4);
        } else {
            out += static_cast<char>(byte);
        }
    }
    out += ')';
}

void AppendUtf16(std::string& hex, std::uint32_t unit) {
    char four[5];
    std::snprintf(four, sizeof four, "%04X", static_cast<unsigned>(unit & 0xFFFFu));
    hex += four;
}

} // namespace

bool ParsePdfPaper(std::string_view name, PdfPaper& paper) {
    std::string lower(name);
    for (char& c : lower)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower == "a4")
        paper = PdfPaper::A4;
    else if (lower == "letter")
        paper = PdfPaper::Letter;
    else
        return false;
    return true;
}

const char* PdfPaperName(PdfPaper paper) {
    return paper == PdfPaper::Letter ? "letter" : "a4";
}

PdfPageLayout LayOutPdfPage(std::uint32_t dots, std::uint32_t rows, PdfPaper paper,
                            double dotsPerInch, double rowsPerInch) {
    const Paper size = PaperOf(paper);
    const double pointsPerDot = 72.0 / dotsPerInch;
    const double pointsPerRow = 72.0 / rowsPerInch;
    PdfPageLayout layout;
    layout.imageWidth = dots * pointsPerDot;
    layout.imageHeight = rows * pointsPerRow;
    const double wholeWidth = layout.imageWidth + 2 * kMarginX;
    const double wholeHeight = layout.imageHeight + 2 * kMarginY;
    layout.pageWidth = wholeWidth <= size.width ? size.width : wholeWidth;
    layout.pageHeight = wholeHeight <= size.height ? size.height : wholeHeight;
    layout.imageX = kMarginX;
    layout.imageY = layout.pageHeight - kMarginY - layout.imageHeight;
    // The image's edges go a fiftieth of a dot inside the grid of dots: a
    // renderer that rounds edges outwards (poppler does) would otherwise
    // spread the image over one more dot and row than it has and resample it.
    // On paper that is 0.008 mm.
    if (dots > 0 && rows > 0) {
        layout.imageX += pointsPerDot / 50;
        layout.imageY += pointsPerRow / 50;
        layout.imageWidth -= 2 * (pointsPerDot / 50);
        layout.imageHeight -= 2 * (pointsPerRow / 50);
    }
    return layout;
}

std::string PdfTextString(std::string_view text) {
    bool plain = true;
    for (char c : text)
        plain = plain && c >= 0x20 && c < 0x7F;
    if (plain) {
        std::string out = "(";
        for (char c : text) {
            if (c == '(' || c == ')' || c == '\\')
                out += '\\';
            out += c;
        }
        out += ')';
        return out;
    }
    std::string hex = "<FEFF";
    for (std::size_t i = 0; i < text.size();) {
        const std::uint32_t cp = NextCodePoint(text, i);
        if (cp >= 0x10000) {
            AppendUtf16(hex, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUtf16(hex, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            AppendUtf16(hex, cp);
        }
    }
    hex += '>';
    return hex;
}

std::string PdfTextContent(const PageText& text, std::uint32_t dots, std::uint32_t rows,
                           PdfPaper paper, std::vector<std::uint32_t>& blocks, double dotsPerInch,
                           double rowsPerInch) {
    blocks.clear();
    std::string out;
    if (text.Empty())
        return out;
    const PdfPageLayout layout = LayOutPdfPage(dots, rows, paper, dotsPerInch, rowsPerInch);
    const double pointsPerDot = 72.0 / dotsPerInch;
    const double pointsPerRow = 72.0 / rowsPerInch;
    const double fontSizePerRow = kFontSizePerPoint * pointsPerRow;
    const double left = kMarginX;
    const double top = layout.pageHeight - kMarginY;
    TextState state;
    // Where the last line began, in thousandths of a point: each line is
    // placed from there (Td), in whole thousandths, so that nothing drifts.
    long long lineX = 0, lineY = 0;
    std::u32string all;
    for (const PageText::KeptRun& run : text.Runs()) {
        all.clear();
        for (const char32_t c : text.Chars(run))
            all += ShownChar(c);
        // Leading and trailing blanks show nothing: the string starts at the
        // first character and the columns stay where the dots put them.
        std::size_t first = 0, end = all.size();
        while (first < end && all[first] == U' ')
            ++first;
        while (end > first && all[end - 1] == U' ')
            --end;
        if (first == end || run.pitch <= 0 || run.height <= 0)
            continue;
        if (out.empty())
            out = "BT\n3 Tr\n";
        const double size = run.height * fontSizePerRow;
        const double scaling = 100.0 * run.pitch * pointsPerDot / (kCourierWidth * size);
        if (scaling != state.scaling) {
            AppendMilli(out, Milli(scaling));
            out += " Tz\n";
            state.scaling = scaling;
        }
        const long long x =
            Milli(left + (run.x + static_cast<double>(first) * run.pitch) * pointsPerDot);
        const long long y = Milli(
            top - (static_cast<double>(run.row) + kBaselineInCell * run.height) * pointsPerRow);
        AppendMilli(out, x - lineX);
        out += ' ';
        AppendMilli(out, y - lineY);
        out += " Td";
        lineX = x;
        lineY = y;
        for (std::size_t i = first; i < end;) {
            const std::uint32_t block = all[i] >> 8;
            std::size_t j = i + 1;
            while (j < end && (all[j] >> 8) == block)
                ++j;
            if (block != state.block || size != state.size) {
                char font[32];
                std::snprintf(font, sizeof font, " /F%X ", static_cast<unsigned>(block));
                out += font;
                AppendMilli(out, Milli(size));
                out += " Tf";
                state.block = block;
                state.size = size;
                if (std::find(blocks.begin(), blocks.end(), block) == blocks.end())
                    blocks.push_back(block);
            }
            out += ' ';
            AppendPdfString(out, std::u32string_view(all).substr(i, j - i));
            out += " Tj";
            i = j;
        }
        out += '\n';
    }
    if (!out.empty())
        out += "ET\n";
    std::sort(blocks.begin(), blocks.end());
    return out;
}

std::string PdfDate(std::int64_t secondsSince1970) {
    using namespace std::chrono;
    const sys_seconds when{seconds{secondsSince1970}};
    const sys_days day = floor<days>(when);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> time{when - day};
    char text[32];
    std::snprintf(text, sizeof text, "D:%04d%02u%02u%02d%02d%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

PdfWriter::PdfWriter(OutputFile& out, PdfPaper paper) : out_(out), paper_(paper) {
    offsets_.assign(4, 0); // 1 catalog, 2 page tree, 3 document information
    // The comment of high bytes tells file transfer tools that this is binary.
    Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
}

std::uint32_t PdfWriter::NewObject() {
    offsets_.push_back(0);
    return static_cast<std::uint32_t>(offsets_.size() - 1);
}

void PdfWriter::BeginObject(std::uint32_t number) {
    offsets_[number] = written_;
    Put(std::to_string(number), " 0 obj\n");
}

void PdfWriter::PutBytes(const void* data, std::size_t size) {
    if (!ok_ || size == 0)
        return;
    if (!out_.Write(data, size))
        ok_ = false;
    written_ += size;
}

void PdfWriter::PutText(std::string_view text) {
    PutBytes(text.data(), text.size());
}

PdfCompressor::PdfCompressor()
    : images_(std::make_unique<PageDeflater>()), text_(std::make_unique<PageDeflater>()) {}
PdfCompressor::~PdfCompressor() = default;

bool PdfCompressor::CompressText(const PageText& text, std::uint32_t dots, std::uint32_t rows,
                                 PdfPaper paper, PdfPageText& out, double dotsPerInch,
                                 double rowsPerInch) {
    out.content.clear();
    const std::string content =
        PdfTextContent(text, dots, rows, paper, out.blocks, dotsPerInch, rowsPerInch);
    return content.empty() ||
           text_->DeflateBytes(reinterpret_cast<const std::uint8_t*>(content.data()),
                               content.size(), out.content);
}

bool PdfCompressor::Compress(const PdfImage& image, PdfPageImage& out) {
    out.width = image.width;
    out.height = image.height;
    out.setBitIsBlack = image.setBitIsBlack;
    out.dotsPerInch = image.dotsPerInch;
    out.rowsPerInch = image.rowsPerInch;
    out.data.clear();
    const std::size_t rowBytes = (static_cast<std::size_t>(image.width) + 7) / 8;
    // One image is compressed in one go: it must stay well inside 32-bit sizes.
    if (static_cast<std::uint64_t>(rowBytes) * image.height > kMaxImageBytes)
        return false;
    if (image.width == 0 || image.height == 0)
        return true; // an empty page: no image
    if (!image.rows || image.stride < rowBytes)
        return false;
    const auto stride = static_cast<std::ptrdiff_t>(image.stride);
    const std::uint8_t* top =
        image.bottomUp ? image.rows + static_cast<std::ptrdiff_t>(image.height - 1) * stride
                       : image.rows;
    return images_->Deflate(top, image.bottomUp ? -stride : stride, rowBytes, image.height,
                            out.data);
}

std::uint32_t PdfWriter::ContentObject(const std::string& content) {
    for (const auto& [text, object] : contents_) {
        if (text == content)
            return object;
    }
    const std::uint32_t object = NewObject();
    BeginObject(object);
    Put("<< /Length ", std::to_string(content.size()), " >>\nstream\n", content,
        "endstream\nendobj\n");
    contents_.emplace_back(content, object);
    return object;
}

std::uint32_t PdfWriter::FontObject(std::uint32_t block) {
    for (const auto& [known, object] : fonts_) {
        if (known == block)
            return object;
    }
    if (widthsObject_ == 0) {
        widthsObject_ = NewObject();
        BeginObject(widthsObject_);
        Put("[");
        for (int code = 0; code < 256; ++code)
            Put(code % 16 == 0 ? "\n600" : " 600");
        Put("\n]\nendobj\n");
    }
    // Code c of the font stands for U+bbc (bb the block); beyond the first
    // plane as its UTF-16 pair, whose low half a block never wraps.
    char target[16];
    if (block < 0x100) {
        std::snprintf(target, sizeof target, "%04X", static_cast<unsigned>(block << 8));
    } else {
        const std::uint32_t v = (block << 8) - 0x10000;
        std::snprintf(target, sizeof target, "%04X%04X", static_cast<unsigned>(0xD800 + (v >> 10)),
                      static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    }
    const std::string cmap = std::string("/CIDInit /ProcSet findresource begin\n"
                                         "12 dict begin\n"
                                         "begincmap\n"
                                         "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) "
                                         "/Supplement 0 >> def\n"
                                         "/CMapName /Adobe-Identity-UCS def\n"
                                         "/CMapType 2 def\n"
                                         "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
                                         "1 beginbfrange\n<00> <FF> <") +
                             target +
                             ">\nendbfrange\n"
                             "endcmap\n"
                             "CMapName currentdict /CMap defineresource pop\n"
                             "end\n"
                             "end\n";
    const std::uint32_t toUnicode = NewObject();
    BeginObject(toUnicode);
    Put("<< /Length ", std::to_string(cmap.size()), " >>\nstream\n", cmap, "endstream\nendobj\n");
    const std::uint32_t font = NewObject();
    BeginObject(font);
    Put("<< /Type /Font /Subtype /Type1 /BaseFont /Courier /FirstChar 0 /LastChar 255 /Widths ",
        std::to_string(widthsObject_), " 0 R /ToUnicode ", std::to_string(toUnicode),
        " 0 R >>\nendobj\n");
    fonts_.emplace_back(block, font);
    return font;
}

bool PdfWriter::AddPage(const PdfImage& image, const PageText* text) {
    if (ok_ && !compressor_.Compress(image, image_))
        ok_ = false;
    if (ok_ && text &&
        !compressor_.CompressText(*text, image.width, image.height, paper_, text_,
                                  image.dotsPerInch, image.rowsPerInch))
        ok_ = false;
    return ok_ && AddPage(image_, text ? &text_ : nullptr);
}

bool PdfWriter::AddPage(const PdfPageImage& image, const PdfPageText* text) {
    if (!ok_)
        return false;
    const bool hasImage = image.width > 0 && image.height > 0;
    const PdfPageLayout layout =
        LayOutPdfPage(image.width, image.height, paper_, image.dotsPerInch, image.rowsPerInch);

    std::uint32_t imageObject = 0;
    if (hasImage) {
        imageObject = NewObject();
        BeginObject(imageObject);
        // DeviceGray maps a sample of 0 to black unless Decode turns it round.
        Put("<< /Subtype /Image /Width ", std::to_string(image.width), " /Height ",
            std::to_string(image.height), " /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode ",
            image.setBitIsBlack ? "[1 0]" : "[0 1]", " /Filter /FlateDecode /Length ",
            std::to_string(image.data.size()), " >>\nstream\n");
        PutBytes(image.data.data(), image.data.size());
        Put("\nendstream\nendobj\n");
    }

    std::string content;
    if (hasImage) {
        content.append("q\n").append(Number(layout.imageWidth)).append(" 0 0 ");
        content.append(Number(layout.imageHeight)).append(" ").append(Number(layout.imageX));
        content.append(" ").append(Number(layout.imageY)).append(" cm\n/Im0 Do\nQ\n");
    }
    const std::uint32_t contentObject = ContentObject(content);
    const bool hasText = text && !text->content.empty();
    std::uint32_t textObject = 0;
    std::string fonts;
    if (hasText) {
        for (const std::uint32_t block : text->blocks) {
            char name[32];
            std::snprintf(name, sizeof name, "/F%X ", static_cast<unsigned>(block));
            fonts.append(name).append(std::to_string(FontObject(block))).append(" 0 R ");
        }
        textObject = NewObject();
        BeginObject(textObject);
        Put("<< /Length ", std::to_string(text->content.size()),
            " /Filter /FlateDecode >>\nstream\n");
        PutBytes(text->content.data(), text->content.size());
        Put("\nendstream\nendobj\n");
    }

    // The page tree gives the paper's size; a page of another size has its own.
    const Paper paper = PaperOf(paper_);
    const std::uint32_t pageObject = NewObject();
    BeginObject(pageObject);
    Put("<< /Type /Page /Parent 2 0 R ");
    if (layout.pageWidth != paper.width || layout.pageHeight != paper.height)
        Put("/MediaBox [0 0 ", Number(layout.pageWidth), " ", Number(layout.pageHeight), "] ");
    Put("/Resources << ");
    if (hasImage)
        Put("/XObject << /Im0 ", std::to_string(imageObject), " 0 R >> ");
    if (hasText)
        Put("/Font << ", fonts, ">> ");
    if (hasText)
        Put(">> /Contents [", std::to_string(contentObject), " 0 R ", std::to_string(textObject),
            " 0 R] >>\nendobj\n");
    else
        Put(">> /Contents ", std::to_string(contentObject), " 0 R >>\nendobj\n");
    pages_.push_back(pageObject);
    return ok_;
}

bool PdfWriter::Finish(const PdfDocumentInfo& info) {
    const Paper paper = PaperOf(paper_);
    BeginObject(2);
    Put("<< /Type /Pages /MediaBox [0 0 ", Number(paper.width), " ", Number(paper.height),
        "] /Count ", std::to_string(pages_.size()), " /Kids [");
    for (std::size_t i = 0; i < pages_.size(); ++i)
        Put(i % 10 == 0 ? "\n" : " ", std::to_string(pages_[i]), " 0 R");
    Put("\n] >>\nendobj\n");

    BeginObject(3);
    Put("<< /Title ", PdfTextString(info.title), "\n/Producer ", PdfTextString(info.producer),
        "\n/CreationDate ", PdfTextString(PdfDate(info.created)), " >>\nendobj\n");

    BeginObject(1);
    Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");

    const std::uint64_t xref = written_;
    Put("xref\n0 ", std::to_string(offsets_.size()), "\n0000000000 65535 f \n");
    for (std::size_t i = 1; i < offsets_.size(); ++i) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                      static_cast<unsigned long long>(offsets_[i]));
        Put(entry);
    }
    Put("trailer\n<< /Size ", std::to_string(offsets_.size()),
        " /Root 1 0 R /Info 3 0 R >>\nstartxref\n", std::to_string(xref), "\n%%EOF\n");
    return ok_;
}

} // namespace zav
