#include "render/renderer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "render/font.h"
#include "render/page_bitmap.h"
#include "render/stdio_file.h"

namespace zav {

namespace {

constexpr std::uint8_t kLF = 0x0A;
constexpr std::uint8_t kFF = 0x0C;
constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kESC = 0x1B;
constexpr unsigned kInitialLineSpacing = 36;
constexpr int kBandRows = 8;

// Bytes that follow every text line: LF, then ESC "J" 12 (4 blank rows).
constexpr std::uint8_t kTextLineEnd[] = {kLF, kESC, 'J', 12};

// Bit-image columns available after the 4 bytes ESC "K" nL nH at `pos`.
std::size_t BitImageColumns(std::span<const std::uint8_t> data, std::size_t pos) {
    if (pos + 4 > data.size())
        return 0;
    const std::size_t k = data[pos + 2] + 256u * data[pos + 3];
    return std::min(k, data.size() - (pos + 4));
}

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

std::int32_t ConvertTextLines(std::span<const std::uint8_t> capture,
                              std::vector<std::uint8_t>& out) {
    std::int32_t widest = 0;
    std::array<std::uint8_t, 4 + kGlyphColumns * kMaxTextLineChars> line{kESC, 'K'};
    std::size_t chars = 0;

    auto writeLine = [&] {
        const std::size_t dots = chars * kGlyphColumns;
        line[2] = static_cast<std::uint8_t>(dots & 0xFF);
        line[3] = static_cast<std::uint8_t>(dots >> 8);
        widest = std::max(widest, static_cast<std::int32_t>(dots));
        out.insert(out.end(), line.begin(), line.begin() + 4 + dots);
        out.insert(out.end(), std::begin(kTextLineEnd), std::end(kTextLineEnd));
        chars = 0;
    };

    const std::size_t size = capture.size();
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t b = capture[pos];
        if (b >= 0x20) {
            // A text line runs up to the next control byte other than CR; that
            // byte ends it and is dropped. Text that the data leaves unended
            // is not printed, as on the printer.
            chars = 0;
            bool ended = false;
            for (; pos < size; ++pos) {
                const std::uint8_t c = capture[pos];
                if (c == kCR)
                    continue;
                if (c < 0x20) {
                    writeLine();
                    ++pos;
                    ended = true;
                    break;
                }
                if (chars == kMaxTextLineChars)
                    writeLine(); // right margin: wrap onto a line of its own
                std::memcpy(&line[4 + chars * kGlyphColumns], GlyphFor(c), kGlyphColumns);
                ++chars;
            }
            if (!ended)
                break;
        } else if (b == kLF || b == kFF || b == kCR) {
            out.push_back(b);
            ++pos;
        } else if (b == kESC) {
            // Copied whole; a sequence cut off by the end keeps the part that
            // arrived, and its bit-image columns count for the width.
            const std::size_t length = std::min(EscapeSequenceLength(capture, pos), size - pos);
            if (pos + 1 < size && capture[pos + 1] == 'K')
                widest = std::max(widest, static_cast<std::int32_t>(BitImageColumns(capture, pos)));
            out.insert(out.end(), capture.begin() + pos, capture.begin() + pos + length);
            pos += length;
        } else {
            ++pos; // other control bytes mean nothing between lines
        }
    }
    return widest;
}

bool RenderGraphicsStream(std::span<const std::uint8_t> stream, std::uint32_t rasterWidth,
                          std::FILE* rowFile, std::uint32_t& rows) {
    rows = 0;
    const std::size_t rowBytes = rasterWidth / 8;
    // One spare byte keeps the block real when the raster is 0 dots wide.
    std::vector<std::uint8_t> band(kBandRows * rowBytes + 1, 0);
    std::uint8_t* const bandRow0 = band.data();
    unsigned spacing = kInitialLineSpacing;
    // A BMP counts its rows and its size in 32 bits, and the row file must
    // stay small enough to be read back (its size is found as a long, which
    // is 32 bits on Windows).
    const std::uint64_t maxFileSize =
        std::min<std::uint64_t>(0xFFFFFFFFull, std::numeric_limits<long>::max());
    const std::uint64_t maxRows =
        std::min<std::uint64_t>(std::numeric_limits<std::int32_t>::max(),
                                rowBytes ? (maxFileSize - kPageBitmapHeaderSize) / rowBytes
                                         : std::numeric_limits<std::int32_t>::max());

    auto writeRows = [&](const std::uint8_t* first, std::size_t count) {
        if (rows + static_cast<std::uint64_t>(count) > maxRows)
            return false;
        rows += static_cast<std::uint32_t>(count);
        const std::size_t bytes = count * rowBytes;
        return bytes == 0 || std::fwrite(first, 1, bytes, rowFile) == bytes;
    };
    // Writes the top `count` band rows and moves the rest up.
    auto advance = [&](int count) {
        if (!writeRows(bandRow0, count))
            return false;
        const std::size_t keep = (kBandRows - count) * rowBytes;
        std::memmove(bandRow0, bandRow0 + count * rowBytes, keep);
        std::memset(bandRow0 + keep, 0, count * rowBytes);
        return true;
    };

    const std::size_t size = stream.size();
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t b = stream[pos];
        bool ok = true;
        if (b == kLF) {
            ok = advance(spacing >= 20 ? 8 : spacing >= 4 ? 2 : 1);
            ++pos;
        } else if (b == kFF) {
            if (std::any_of(band.begin(), band.end(), [](std::uint8_t v) { return v != 0; }))
                ok = advance(kBandRows);
            ++pos;
        } else if (b == kESC) {
            const std::size_t length = EscapeSequenceLength(stream, pos);
            const bool hasArgument = pos + 2 < size;
            switch (pos + 1 < size ? stream[pos + 1] : 0) {
            case '2':
            case '@':
                spacing = kInitialLineSpacing;
                break;
            case '3':
                if (hasArgument)
                    spacing = stream[pos + 2];
                break;
            case 'J':
                if (hasArgument && stream[pos + 2] != 0) {
                    // Paper moves on; whatever lies in the top band row is lost.
                    std::memset(bandRow0, 0, rowBytes);
                    const int count = (stream[pos + 2] + 2) / 3;
                    for (int i = 0; ok && i < count; ++i)
                        ok = writeRows(bandRow0, 1);
                }
                break;
            case 'K': {
                const std::size_t columns =
                    std::min<std::size_t>(BitImageColumns(stream, pos), rowBytes * 8);
                for (std::size_t x = 0; x < columns; ++x) {
                    const std::uint8_t d = stream[pos + 4 + x];
                    if (d == 0)
                        continue;
                    const std::uint8_t mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
                    std::uint8_t* cell = bandRow0 + x / 8;
                    for (int row = 0; row < kBandRows; ++row) {
                        if (d & (0x80u >> row))
                            cell[row * rowBytes] |= mask;
                    }
                }
                break;
            }
            default:
                break; // ESC "C" and pairs without meaning: skipped
            }
            pos += std::min(length, size - pos);
        } else {
            ++pos; // CR and anything else: no effect
        }
        if (!ok)
            return false;
    }
    // Dots drawn since the band was last written stay unprinted: the paper
    // never moved them under the head.
    return true;
}

int RenderCaptureFile(const char* path) {
    char tmpPath[kPathBufferSize];
    char rowPath[kPathBufferSize];
    char bitmapPath[kPathBufferSize];
    if (!ReplaceExtension(path, "tmp", tmpPath) || !ReplaceExtension(path, "$$$", rowPath) ||
        !ReplaceExtension(path, "bmp", bitmapPath))
        return kRenderPathTooLong;
    // A capture under one of those names (a raw recording kept as ".tmp")
    // would be overwritten and deleted by its own rendering.
    if (IsSameFile(path, tmpPath) || IsSameFile(path, rowPath) || IsSameFile(path, bitmapPath))
        return kRenderNameClash;

    std::vector<std::uint8_t> stream;
    std::int32_t widest = 0;
    {
        FileBytes capture;
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
        in.reset();
        widest = ConvertTextLines({capture.data.get(), capture.size}, stream);
    }
    {
        UniqueFile tmp = OpenFile(tmpPath, "wb");
        if (!tmp)
            return kRenderCannotCreate;
        const bool written = stream.empty() || std::fwrite(stream.data(), 1, stream.size(),
                                                           tmp.get()) == stream.size();
        if (!CloseFile(tmp) || !written)
            return kRenderCannotCreate;
        std::vector<std::uint8_t>().swap(stream);
    }

    FileBytes graphics;
    {
        UniqueFile tmp = OpenFile(tmpPath, "rb");
        if (!tmp)
            return kRenderCannotReopen;
        switch (ReadWholeFile(tmp.get(), graphics)) {
        case ReadWholeResult::NoMemory:
            return kRenderNoMemoryForStream;
        case ReadWholeResult::ShortRead:
            return kRenderCannotRead;
        case ReadWholeResult::Ok:
            break;
        }
    }
    std::remove(tmpPath);

    const std::uint32_t rasterWidth = RasterWidthFor(widest);
    const std::uint32_t rowBytes = rasterWidth / 8;
    UniqueFile rowFile = OpenFile(rowPath, "wb");
    if (!rowFile)
        return kRenderCannotCreate;
    const PageBitmapHeader placeholder = BlankPageBitmapHeader();
    std::uint32_t rows = 0;
    if (std::fwrite(placeholder.bytes, 1, sizeof placeholder.bytes, rowFile.get()) !=
            sizeof placeholder.bytes ||
        !RenderGraphicsStream({graphics.data.get(), graphics.size}, rasterWidth, rowFile.get(),
                              rows))
        return kRenderCannotCreate;
    graphics = FileBytes{};
    return WriteBottomUpBitmap(rowFile.release(), rowPath, bitmapPath, rasterWidth, rowBytes, rows);
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
        return "a work file or the page bitmap cannot be written in that folder";
    case kRenderPathTooLong:
        return "the file name is too long";
    case kRenderNameClash:
        return "the capture file has the name of a work file or of the page bitmap";
    case kRenderCannotReopen:
        return "the work file cannot be opened again";
    case kRenderNoMemoryForStream:
        return "not enough memory for the picture of the printout";
    default:
        return "unknown error";
    }
}

} // namespace zav
