#include "render/renderer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "base/stdio_file.h"
#include "base/sys_error.h"
#include "render/font.h"
#include "render/page_bitmap.h"
#include "render/text_sink.h"

namespace zav {

namespace {

constexpr std::uint8_t kLF = 0x0A;
constexpr std::uint8_t kFF = 0x0C;
constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kESC = 0x1B;
constexpr unsigned kInitialLineSpacing = 36;

// The items that follow every text line: LF, then ESC "J" 12 (4 blank rows).
constexpr std::uint8_t kLineFeed[] = {kLF};
constexpr std::uint8_t kTextLineAdvance[] = {kESC, 'J', 12};

// Rows a line feed moves the paper at line spacing s (in 1/216 inch).
int LineFeedRows(unsigned s) {
    return s >= 20 ? 8 : s >= 4 ? 2 : 1;
}

// The band rows that the glyph of each character code touches, as a column
// byte (bit 7 the top row).
const std::uint8_t* GlyphRowMasks() {
    static const std::array<std::uint8_t, 256> masks = [] {
        std::array<std::uint8_t, 256> m{};
        for (int code = 0; code < 256; ++code) {
            const std::uint8_t* glyph = GlyphFor(static_cast<std::uint8_t>(code));
            for (int x = 0; x < kGlyphColumns; ++x)
                m[code] |= glyph[x];
        }
        return m;
    }();
    return masks.data();
}

// Eight bit-image columns, the leftmost in the top byte.
inline std::uint64_t LoadColumns(const std::uint8_t* c) {
    return std::uint64_t{c[0]} << 56 | std::uint64_t{c[1]} << 48 | std::uint64_t{c[2]} << 40 |
           std::uint64_t{c[3]} << 32 | std::uint64_t{c[4]} << 24 | std::uint64_t{c[5]} << 16 |
           std::uint64_t{c[6]} << 8 | std::uint64_t{c[7]};
}

// The last columns of an image, fewer than eight; the rest are blank.
std::uint64_t LoadLastColumns(const std::uint8_t* c, std::size_t count) {
    std::uint8_t eight[8] = {};
    std::memcpy(eight, c, count);
    return LoadColumns(eight);
}

// The eight bytes of a word ORed into one.
std::uint8_t FoldBytes(std::uint64_t x) {
    x |= x >> 32;
    x |= x >> 16;
    x |= x >> 8;
    return static_cast<std::uint8_t>(x);
}

// Turns eight column bytes (column j in byte 7 - j, its top dot in bit 7)
// into eight row bytes (row r in byte 7 - r, column 0 in bit 7): a
// transposition of the 8x8 bit matrix in three swaps of growing blocks.
std::uint64_t ColumnsToRows(std::uint64_t x) {
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

// Stage 2: the printer's paper and head. Measures the page when it has no
// band (no dot is drawn, only counted where it matters), draws it otherwise.
// Which band rows hold dots is kept as a column byte (bit 7 the top row):
// drawing only sets dots and the band moves and clears whole rows, so that
// byte tells exactly which rows are blank, for measuring and drawing alike.
// Every text line drawn is also told to the text sink, when there is one.
class BandPrinter final : public ItemSink {
  public:
    explicit BandPrinter(TextSink* text = nullptr) : text_(text) {}
    BandPrinter(std::uint32_t rasterWidth, std::uint8_t* band, RowSink& rows, TextSink* text)
        : band_(band), rowBytes_(rasterWidth / 8), sink_(&rows), text_(text) {}

    bool TextLine(std::span<const std::uint8_t> chars) override {
        const std::size_t dots = chars.size() * kGlyphColumns;
        if (text_)
            TellText(chars);
        if (!sink_) {
            widest_ = std::max(widest_, static_cast<std::int32_t>(dots));
            streamBytes_ += 4 + dots;
            const std::uint8_t* masks = GlyphRowMasks();
            for (const std::uint8_t c : chars)
                dotRows_ |= masks[c];
            return true;
        }
        std::uint8_t* column = columns_.data();
        for (const std::uint8_t c : chars) {
            std::memcpy(column, GlyphFor(c), kGlyphColumns);
            column += kGlyphColumns;
        }
        Draw(columns_.data(), dots);
        return true;
    }

    bool Item(std::span<const std::uint8_t> bytes) override {
        streamBytes_ += bytes.size();
        switch (bytes[0]) {
        case kLF:
            return Feed(LineFeedRows(spacing_));
        case kFF:
            return dotRows_ == 0 || Feed(kBandRows);
        case kESC:
            return Escape(bytes);
        default:
            return true; // CR: the head returns, the paper stays
        }
    }

    PageGeometry Geometry() const {
        PageGeometry page;
        page.widest = widest_;
        page.rasterWidth = RasterWidthFor(widest_);
        page.rows = rows_;
        page.streamBytes = streamBytes_;
        return page;
    }

  private:
    // The line's cells begin at the left edge, in the band's top row.
    void TellText(std::span<const std::uint8_t> chars) {
        for (std::size_t i = 0; i < chars.size(); ++i)
            unicode_[i] = BasicModelChar(chars[i]);
        text_->Run({rows_, 0, kGlyphColumns, kBandRows, {unicode_.data(), chars.size()}});
    }

    bool Escape(std::span<const std::uint8_t> bytes) {
        if (bytes.size() < 2)
            return true;
        const bool hasArgument = bytes.size() > 2;
        switch (bytes[1]) {
        case '2':
        case '@':
            spacing_ = kInitialLineSpacing;
            return true;
        case '3':
            if (hasArgument)
                spacing_ = bytes[2];
            return true;
        case 'J':
            // Paper moves on; whatever lies in the top band row is lost.
            return !hasArgument || bytes[2] == 0 || Advance((bytes[2] + 2u) / 3u);
        case 'K': {
            const std::size_t columns = bytes.size() >= 4 ? bytes.size() - 4 : 0;
            if (!sink_)
                widest_ = std::max(widest_, static_cast<std::int32_t>(columns));
            Draw(bytes.data() + 4, columns);
            return true;
        }
        default:
            return true; // ESC "C" and pairs without meaning
        }
    }

    std::uint8_t* BandRow(int r) const {
        return band_ + static_cast<std::size_t>((top_ + r) & (kBandRows - 1)) * rowBytes_;
    }

    // ORs bit-image columns into the band from its left edge.
    void Draw(const std::uint8_t* columns, std::size_t count) {
        if (!sink_) {
            const std::size_t whole = count & ~std::size_t{7};
            std::uint64_t any = whole < count ? LoadLastColumns(columns + whole, count - whole) : 0;
            for (std::size_t x = 0; x < whole; x += 8)
                any |= LoadColumns(columns + x);
            dotRows_ |= FoldBytes(any);
            return;
        }
        count = std::min<std::size_t>(count, static_cast<std::size_t>(rowBytes_) * 8);
        std::uint8_t* row[kBandRows];
        for (int r = 0; r < kBandRows; ++r)
            row[r] = BandRow(r);
        std::uint64_t any = 0;
        auto drawEight = [&](std::size_t x, std::uint64_t block) {
            any |= block;
            const std::uint64_t rows = ColumnsToRows(block);
            const std::size_t i = x / 8;
            row[0][i] |= static_cast<std::uint8_t>(rows >> 56);
            row[1][i] |= static_cast<std::uint8_t>(rows >> 48);
            row[2][i] |= static_cast<std::uint8_t>(rows >> 40);
            row[3][i] |= static_cast<std::uint8_t>(rows >> 32);
            row[4][i] |= static_cast<std::uint8_t>(rows >> 24);
            row[5][i] |= static_cast<std::uint8_t>(rows >> 16);
            row[6][i] |= static_cast<std::uint8_t>(rows >> 8);
            row[7][i] |= static_cast<std::uint8_t>(rows);
        };
        const std::size_t whole = count & ~std::size_t{7};
        for (std::size_t x = 0; x < whole; x += 8) {
            if (const std::uint64_t block = LoadColumns(columns + x))
                drawEight(x, block);
        }
        if (whole < count)
            drawEight(whole, LoadLastColumns(columns + whole, count - whole));
        dotRows_ |= FoldBytes(any);
    }

    // A line or form feed: the top `count` band rows go onto the page and the
    // rest move up.
    bool Feed(int count) {
        rows_ += static_cast<unsigned>(count);
        if (sink_) {
            std::uint64_t blank = 0;
            for (int r = 0; r < count; ++r) {
                if (!(dotRows_ & (0x80u >> r))) {
                    ++blank;
                    continue;
                }
                std::uint8_t* row = BandRow(r);
                if ((blank && !sink_->BlankRows(blank)) || !sink_->Row(row))
                    return false;
                blank = 0;
                std::memset(row, 0, rowBytes_);
            }
            if (blank && !sink_->BlankRows(blank))
                return false;
            top_ = (top_ + count) & (kBandRows - 1);
        }
        dotRows_ = static_cast<std::uint8_t>(dotRows_ << count);
        return true;
    }

    // ESC "J": band row 0 is cleared and written `count` times; the band
    // itself stays where it is.
    bool Advance(unsigned count) {
        rows_ += count;
        if (sink_ && (dotRows_ & 0x80))
            std::memset(BandRow(0), 0, rowBytes_);
        dotRows_ &= 0x7F;
        return !sink_ || sink_->BlankRows(count);
    }

    // Drawing.
    std::uint8_t* band_ = nullptr;
    std::uint32_t rowBytes_ = 0;
    RowSink* sink_ = nullptr;
    int top_ = 0; // the band's rows form a ring; top_ is row 0
    std::array<std::uint8_t, kMaxTextLineChars * kGlyphColumns> columns_;
    // The text.
    TextSink* text_ = nullptr;
    std::array<char32_t, kMaxTextLineChars> unicode_;
    // The paper.
    unsigned spacing_ = kInitialLineSpacing;
    std::uint8_t dotRows_ = 0;
    std::uint64_t rows_ = 0;
    // Measuring.
    std::int32_t widest_ = 0;
    std::uint64_t streamBytes_ = 0;
};

// Writes the graphics stream of the items it receives.
class StreamWriter final : public ItemSink {
  public:
    explicit StreamWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    bool TextLine(std::span<const std::uint8_t> chars) override {
        const std::size_t dots = chars.size() * kGlyphColumns;
        widest = std::max(widest, static_cast<std::int32_t>(dots));
        const std::uint8_t head[] = {kESC, 'K', static_cast<std::uint8_t>(dots & 0xFF),
                                     static_cast<std::uint8_t>(dots >> 8)};
        out_.insert(out_.end(), std::begin(head), std::end(head));
        std::size_t at = out_.size();
        out_.resize(at + dots);
        for (const std::uint8_t c : chars) {
            std::memcpy(out_.data() + at, GlyphFor(c), kGlyphColumns);
            at += kGlyphColumns;
        }
        return true;
    }

    bool Item(std::span<const std::uint8_t> bytes) override {
        if (bytes.size() >= 2 && bytes[0] == kESC && bytes[1] == 'K')
            widest = std::max(widest,
                              static_cast<std::int32_t>(bytes.size() < 4 ? 0 : bytes.size() - 4));
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        return true;
    }

    std::int32_t widest = 0;

  private:
    std::vector<std::uint8_t>& out_;
};

} // namespace

std::size_t EscapeSequenceLength(std::span<const std::uint8_t> data, std::size_t pos) {
    if (pos + 1 >= data.size())
        return 2;
    switch (data[pos + 1]) {
    case '3':
    case 'J':
        return 3;
    case 'C':
        return (pos + 2 < data.size() && data[pos + 2] == 0) ? 4 : 3;
    case 'K':
        if (pos + 4 > data.size())
            return 4;
        return 4 + data[pos + 2] + 256u * data[pos + 3];
    default:
        return 2;
    }
}

bool SplitPrinterItems(std::span<const std::uint8_t> capture, ItemSink& sink) {
    std::array<std::uint8_t, kMaxTextLineChars> line;
    std::size_t chars = 0;
    auto endLine = [&] {
        const std::size_t length = chars;
        chars = 0;
        return sink.TextLine({line.data(), length}) && sink.Item(kLineFeed) &&
               sink.Item(kTextLineAdvance);
    };

    const std::size_t size = capture.size();
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t b = capture[pos];
        if (b >= 0x20) {
            // A text line runs up to the next control byte other than CR; that
            // byte ends it and is dropped. Text that the data leaves unended
            // is not printed, as on the printer.
            bool ended = false;
            for (; pos < size; ++pos) {
                const std::uint8_t c = capture[pos];
                if (c == kCR)
                    continue;
                if (c < 0x20) {
                    if (!endLine())
                        return false;
                    ++pos;
                    ended = true;
                    break;
                }
                if (chars == kMaxTextLineChars && !endLine())
                    return false; // right margin: wrap onto a line of its own
                line[chars++] = c;
            }
            if (!ended)
                break;
        } else if (b == kLF || b == kFF || b == kCR) {
            if (!sink.Item(capture.subspan(pos, 1)))
                return false;
            ++pos;
        } else if (b == kESC) {
            // Passed whole; a sequence cut off by the end keeps the part that
            // arrived.
            const std::size_t length = std::min(EscapeSequenceLength(capture, pos), size - pos);
            if (!sink.Item(capture.subspan(pos, length)))
                return false;
            pos += length;
        } else {
            ++pos; // other control bytes mean nothing between lines
        }
    }
    return true;
}

std::int32_t ConvertTextLines(std::span<const std::uint8_t> capture,
                              std::vector<std::uint8_t>& out) {
    StreamWriter writer(out);
    SplitPrinterItems(capture, writer);
    return writer.widest;
}

PageGeometry MeasurePage(std::span<const std::uint8_t> capture) {
    BandPrinter measure;
    SplitPrinterItems(capture, measure);
    return measure.Geometry();
}

RenderResult CheckPage(const PageGeometry& page) {
    if (page.streamBytes == 0)
        return kRenderCannotRead;
    // biHeight is a signed 32-bit count and bfSize an unsigned 32-bit size.
    if (page.rows > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ||
        kPageBitmapHeaderSize + page.rows * page.RowBytes() > 0xFFFFFFFFull)
        return kRenderPageTooLong;
    return kRenderOk;
}

void ReadPageText(std::span<const std::uint8_t> capture, TextSink& text) {
    BandPrinter printer(&text);
    SplitPrinterItems(capture, printer);
}

bool RenderBands(std::span<const std::uint8_t> capture, std::uint32_t rasterWidth,
                 std::span<std::uint8_t> band, RowSink& rows, TextSink* text) {
    if (band.size() < BandBytesFor(rasterWidth))
        return false;
    BandPrinter printer(rasterWidth, band.data(), rows, text);
    return SplitPrinterItems(capture, printer);
}

RenderResult WritePageBitmap(std::span<const std::uint8_t> capture, const PageGeometry& page,
                             BlockOutput& out, TextSink* text) {
    if (const RenderResult check = CheckPage(page); check != kRenderOk)
        return check;
    const auto rows = static_cast<std::uint32_t>(page.rows);
    const std::size_t bandBytes = BandBytesFor(page.rasterWidth);
    const std::size_t bufferBytes = BottomUpBitmap::BufferBytesFor(page.RowBytes(), rows);
    // Both blocks are sized once, from the page's width, whatever its length.
    std::unique_ptr<std::uint8_t[]> memory(new (std::nothrow)
                                               std::uint8_t[bandBytes + bufferBytes]);
    if (!memory)
        return kRenderNoMemoryForStream;
    std::memset(memory.get(), 0, bandBytes);
    BottomUpBitmap bitmap(out, page.rasterWidth, rows, {memory.get() + bandBytes, bufferBytes});
    const bool written =
        RenderBands(capture, page.rasterWidth, {memory.get(), bandBytes}, bitmap, text) &&
        bitmap.Finish();
    return written ? kRenderOk : kRenderCannotCreate;
}

namespace {

// The whole capture file in memory: kRenderOk or why not.
RenderResult ReadCapture(const char* path, FileBytes& capture) {
    UniqueFile in = OpenFile(path, "rb");
    if (!in)
        return kRenderCannotOpen;
    switch (ReadWholeFile(in.get(), capture)) {
    case ReadWholeResult::NoMemory:
        return kRenderNoMemory;
    case ReadWholeResult::ShortRead:
        return kRenderCannotRead;
    case ReadWholeResult::Ok:
        break;
    }
    return kRenderOk;
}

// A capture file in memory and the size of its page.
struct MeasuredCapture {
    FileBytes file;
    PageGeometry page;
    std::span<const std::uint8_t> Bytes() const { return {file.data.get(), file.size}; }
};

// The capture file read and its page measured (told to `geometry` too):
// kRenderOk when there is a page to draw.
RenderResult ReadAndMeasure(const char* path, MeasuredCapture& capture, PageGeometry* geometry) {
    if (const RenderResult read = ReadCapture(path, capture.file); read != kRenderOk)
        return read;
    capture.page = MeasurePage(capture.Bytes());
    if (geometry)
        *geometry = capture.page;
    return CheckPage(capture.page);
}

} // namespace

RenderResult RenderCaptureFileTo(const char* path, OutputFile& bitmap, BlockOutput* copy,
                                 PageGeometry* geometry, TextSink* text) {
    MeasuredCapture capture;
    if (const RenderResult ready = ReadAndMeasure(path, capture, geometry); ready != kRenderOk)
        return ready; // nothing written
    FileBlockOutput out(bitmap);
    CopyingBlockOutput copying(out, copy ? *copy : out);
    const RenderResult result = WritePageBitmap(
        capture.Bytes(), capture.page, copy ? static_cast<BlockOutput&>(copying) : out, text);
    if (result == kRenderOk && !bitmap.Close())
        return kRenderCannotCreate;
    return result;
}

RenderResult RenderCaptureFileShared(const char* path, OutputFile& bitmap, SharedBytes& bytes,
                                     std::size_t maxInMemory, PageGeometry* geometry,
                                     TextSink* text) {
    bytes.reset();
    MeasuredCapture capture;
    if (const RenderResult ready = ReadAndMeasure(path, capture, geometry); ready != kRenderOk)
        return ready; // nothing written
    const PageGeometry& page = capture.page;
    const std::uint64_t size = kPageBitmapHeaderSize + page.rows * page.RowBytes();
    VectorBlockOutput memory;
    if (size <= maxInMemory) {
        try {
            memory.bytes.resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            memory.bytes = {};
        }
    }
    if (memory.bytes.empty()) {
        FileBlockOutput out(bitmap);
        const RenderResult result = WritePageBitmap(capture.Bytes(), page, out, text);
        return result == kRenderOk && !bitmap.Close() ? kRenderCannotCreate : result;
    }
    const RenderResult result = WritePageBitmap(capture.Bytes(), page, memory, text);
    if (result != kRenderOk)
        return result;
    bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(memory.bytes));
    if (!bitmap.WriteAt(0, bytes) || !bitmap.Close()) {
        bytes.reset();
        return kRenderCannotCreate;
    }
    return kRenderOk;
}

RenderResult RenderCaptureFile(const char* path, BlockOutput* copy, TextSink* text,
                               SystemError* error) {
    char bitmapPath[kPathBufferSize];
    if (!ReplaceExtension(path, "bmp", bitmapPath))
        return kRenderPathTooLong;
    // A capture under the bitmap's name would be overwritten by its own page.
    if (IsSameFile(path, bitmapPath))
        return kRenderNameClash;
    OutputFile bitmap(bitmapPath);
    RenderResult result = RenderCaptureFileTo(path, bitmap, copy, nullptr, text);
    if (result == kRenderCannotOpen && error)
        *error = LastErrnoError();
    if (result == kRenderOk && !bitmap.Commit({path}))
        result = kRenderCannotCreate;
    if (result == kRenderCannotCreate && error)
        *error = bitmap.Error();
    return result; // on failure the earlier bitmap stays, and nothing made here does
}

RenderResult ReadCaptureText(const char* path, TextSink& text) {
    FileBytes capture;
    const RenderResult read = ReadCapture(path, capture);
    if (read == kRenderOk)
        ReadPageText({capture.data.get(), capture.size}, text);
    return read;
}

const char* RenderResultText(int result) {
    switch (result) {
    case kRenderOk:
        return "page bitmap written";
    case kRenderCannotOpen:
        return "the capture file cannot be opened for reading";
    case kRenderNoMemory:
        return "not enough memory for the capture file";
    case kRenderCannotRead:
        return "the capture file (or the picture made from it) is empty or cannot be read whole";
    case kRenderCannotCreate:
        return "the page bitmap cannot be written";
    case kRenderPathTooLong:
        return "the file name is too long";
    case kRenderNameClash:
        return "the capture file has the name of its page bitmap";
    case kRenderPageTooLong:
        return "page too long for a bitmap";
    case kRenderNoMemoryForStream:
        return "not enough memory for the picture of the printout";
    default:
        return "unknown error";
    }
}

} // namespace zav
