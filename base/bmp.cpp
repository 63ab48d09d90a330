#include "base/bmp.h"

namespace zav {
namespace {

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    if (b.size() < at + 4)
        return 0;
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    if (b.size() < at + 2)
        return 0;
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

bool IsInfoHeaderSize(std::uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// Only a header of exactly 12 bytes is a core header; other sizes are refused
// by the parser, which needs to know where every field is.
bool IsCore(std::span<const std::uint8_t> header) {
    return Le32(header, 0) == kCoreHeaderSize;
}

std::uint16_t BitCount(std::span<const std::uint8_t> header) {
    return IsCore(header) ? Le16(header, 10) : Le16(header, 14);
}

constexpr std::uint32_t kBiRgb = 0;

} // namespace

std::uint32_t DibNumColors(std::span<const std::uint8_t> header) {
    if (!IsCore(header)) {
        if (const std::uint32_t used = Le32(header, 32))
            return used;
    }
    switch (BitCount(header)) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

std::uint32_t DibPaletteSize(std::span<const std::uint8_t> header) {
    return DibNumColors(header) * (IsCore(header) ? 3u : 4u);
}

std::uint64_t DibBits(std::span<const std::uint8_t> header) {
    return static_cast<std::uint64_t>(Le32(header, 0)) + DibPaletteSize(header);
}

std::optional<DibLayout> ParseDib(std::span<const std::uint8_t> block, const BmpLimits& limits,
                                  std::uint64_t fileBitsOffset) {
    DibLayout d;
    d.headerSize = Le32(block, 0);
    d.core = d.headerSize == kCoreHeaderSize;
    if (!d.core && !IsInfoHeaderSize(d.headerSize))
        return std::nullopt;
    if (block.size() < d.headerSize)
        return std::nullopt;
    if (d.core) {
        d.width = Le16(block, 4);
        d.height = Le16(block, 6);
    } else {
        d.width = static_cast<std::int32_t>(Le32(block, 4));
        d.height = static_cast<std::int32_t>(Le32(block, 8));
        if (Le32(block, 16) != kBiRgb)
            return std::nullopt; // compressed rows or bit-field masks
    }
    d.bitCount = BitCount(block);
    switch (d.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return std::nullopt;
    }
    if (d.width < 0 || d.height == INT32_MIN ||
        static_cast<std::uint32_t>(d.width) > limits.maxWidth)
        return std::nullopt;
    if ((d.width == 0 || d.height == 0) && !limits.emptyAllowed)
        return std::nullopt;
    d.colorCount = DibNumColors(block);
    if (d.colorCount > 256 || (d.bitCount <= 8 && d.colorCount > (1u << d.bitCount)))
        return std::nullopt;
    const std::uint64_t pixels = static_cast<std::uint64_t>(d.width) * d.Rows();
    if (pixels > limits.maxPixels)
        return std::nullopt;
    d.paletteOffset = d.headerSize;
    const std::uint64_t tableEnd = DibBits(block);
    const std::uint64_t stride = ((static_cast<std::uint64_t>(d.width) * d.bitCount + 31) / 32) * 4;
    d.stride = static_cast<std::uint32_t>(stride); // pixels are capped, so it fits
    d.bitsSize = stride * d.Rows();
    if (fileBitsOffset != 0 && fileBitsOffset < tableEnd && !limits.bitsInsideTableAllowed)
        return std::nullopt;
    d.bitsOffset = fileBitsOffset >= tableEnd ? fileBitsOffset : tableEnd;
    if (tableEnd > block.size() || d.bitsOffset > block.size() ||
        d.bitsSize > block.size() - d.bitsOffset)
        return std::nullopt;
    return d;
}

std::optional<DibLayout> ParseBitmapFile(std::span<const std::uint8_t> file,
                                         const BmpLimits& limits) {
    if (file.size() < kBitmapFileHeaderSize || file.size() > limits.maxFileSize || file[0] != 'B' ||
        file[1] != 'M')
        return std::nullopt;
    const std::uint32_t offBits = Le32(file, 10);
    // An offset that does not reach past the file header counts as none:
    // rows right after the colour table, where the caller allows guessing.
    std::uint64_t fromBlock = offBits > kBitmapFileHeaderSize ? offBits - kBitmapFileHeaderSize : 0;
    if (fromBlock == 0 && !limits.bitsInsideTableAllowed)
        return std::nullopt;
    return ParseDib(file.subspan(kBitmapFileHeaderSize), limits, fromBlock);
}

DibRgb DibColor(std::span<const std::uint8_t> block, const DibLayout& layout, std::uint32_t i) {
    const std::size_t entry = layout.core ? 3 : 4;
    const std::size_t at = layout.paletteOffset + entry * i;
    if (i >= layout.colorCount || block.size() < at + 3)
        return {};
    return DibRgb{block[at + 2], block[at + 1], block[at]};
}

void WriteBmpHeader(const BmpHeaderFields& f, std::uint8_t* out) {
    const std::uint32_t offBits = static_cast<std::uint32_t>(kBmpHeaderSize) + 4u * f.colours;
    const std::uint32_t stride =
        (static_cast<std::uint32_t>(f.width) * f.bitCount + 31u) / 32u * 4u;
    const std::uint32_t rows = f.height < 0 ? 0u - static_cast<std::uint32_t>(f.height)
                                            : static_cast<std::uint32_t>(f.height);
    std::uint8_t* b = out;
    auto put16 = [&](std::uint32_t v) {
        StoreLe16(b, v);
        b += 2;
    };
    auto put32 = [&](std::uint32_t v) {
        StoreLe32(b, v);
        b += 4;
    };
    put16('B' | 'M' << 8);
    put32(offBits + stride * rows); // bfSize
    put32(0);                       // bfReserved1, bfReserved2
    put32(offBits);
    put32(kInfoHeaderSize);
    put32(static_cast<std::uint32_t>(f.width));
    put32(static_cast<std::uint32_t>(f.height));
    put16(1); // biPlanes
    put16(f.bitCount);
    put32(0); // biCompression: BI_RGB
    put32(f.imageSize);
    put32(f.xPelsPerMeter);
    put32(f.yPelsPerMeter);
    put32(f.clrUsed);
    put32(0); // biClrImportant
}

} // namespace zav
