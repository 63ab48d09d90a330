// Windows bitmap files (BMP): the header rules, a bounds-checked parser with
// limits its caller chooses (the dialogs' picture, the PDF's page bitmaps),
// and the headers the programs write (page bitmaps, the dialogs' picture).
//
// A bitmap file is the 14-byte file header ("BM", size, reserved, offset of
// the pixel bits) followed by the bitmap header, the colour table and the
// pixel rows; the part after the file header is called the block here.
// Headers of 40 bytes and their later, longer versions (52, 56, 108, 124
// bytes) are read as information headers of their own size, a 12-byte header
// as the old core header. Nothing outside the given bytes is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zav {

inline constexpr std::size_t kBitmapFileHeaderSize = 14;
inline constexpr std::uint32_t kCoreHeaderSize = 12;
inline constexpr std::uint32_t kInfoHeaderSize = 40;

// What a caller accepts beyond the format's own rules.
struct BmpLimits {
    std::uint64_t maxFileSize = 0xFFFFFFFFu; // whole file, header included
    std::uint64_t maxPixels = ~std::uint64_t{0};
    std::uint32_t maxWidth = 0x7FFFFFFFu;
    // A width or a height of 0: a picture without dots (a page with nothing
    // drawn on it); otherwise refused.
    bool emptyAllowed = false;
    // Rows that bfOffBits places inside the colour table: read right after the
    // table instead; otherwise refused.
    bool bitsInsideTableAllowed = true;
};

// Header rules on the block (header first). A field the bytes do not reach
// counts as 0.
// Colour count: a non-zero biClrUsed of an information header, else 2, 16 or
// 256 for 1, 4 or 8 bits per pixel, 0 for any other bit count.
std::uint32_t DibNumColors(std::span<const std::uint8_t> header);
// Colour-table size in bytes: 4 per colour after an information header, 3
// after a core header.
std::uint32_t DibPaletteSize(std::span<const std::uint8_t> header);
// Offset of the pixel bits right after the header and the colour table.
std::uint64_t DibBits(std::span<const std::uint8_t> header);

struct DibRgb {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const DibRgb&) const = default;
};

// A block whose header, colour table and rows were all found inside it.
struct DibLayout {
    std::uint32_t headerSize = 0;
    bool core = false;          // 12-byte core header: 3-byte colour entries
    std::int32_t width = 0;     // > 0
    std::int32_t height = 0;    // > 0 bottom row first, < 0 top row first
    std::uint16_t bitCount = 0; // 1, 4, 8, 16, 24 or 32
    std::uint32_t colorCount = 0;
    std::uint32_t paletteOffset = 0; // colour table, from the block's start
    std::uint32_t stride = 0;        // bytes per row, a multiple of 4
    std::uint64_t bitsOffset = 0;    // first row, from the block's start
    std::uint64_t bitsSize = 0;      // stride * rows

    std::uint32_t Rows() const {
        return height < 0 ? 0u - static_cast<std::uint32_t>(height)
                          : static_cast<std::uint32_t>(height);
    }
};

// Checks a block: a known header size, a positive width, a non-zero height,
// uncompressed rows of 1, 4, 8, 16, 24 or 32 bits, at most 256 colours, and the
// colour table and every row inside the block. `fileBitsOffset` is bfOffBits
// counted from the block's start (bfOffBits - 14), or 0 when there is none:
// the rows start there when it lies at or after the end of the colour table
// (a writer may leave a gap), else right after the colour table.
// `limits` may relax the width and height rules and tighten the sizes.
std::optional<DibLayout> ParseDib(std::span<const std::uint8_t> block, const BmpLimits& limits,
                                  std::uint64_t fileBitsOffset = 0);

// A whole file: "BM", at most limits.maxFileSize bytes, then ParseDib on the
// block after the file header. The layout's offsets count from the block.
std::optional<DibLayout> ParseBitmapFile(std::span<const std::uint8_t> file,
                                         const BmpLimits& limits);

// Colour i (< layout.colorCount) of a parsed block's colour table.
DibRgb DibColor(std::span<const std::uint8_t> block, const DibLayout& layout, std::uint32_t i);

// Little-endian fields, as every number of the format is stored.
inline void StoreLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    StoreLe16(p, v & 0xFFFFu);
    StoreLe16(p + 2, v >> 16);
}

// The file header and a 40-byte information header, uncompressed rows:
// 54 bytes, the colour table and the rows follow.
struct BmpHeaderFields {
    std::int32_t width = 0;
    std::int32_t height = 0; // > 0: bottom row first
    std::uint16_t bitCount = 1;
    std::uint32_t colours = 0;          // entries of the colour table that follows
    std::uint32_t imageSize = 0;        // biSizeImage; 0 is allowed for uncompressed rows
    std::uint32_t xPelsPerMeter = 3780; // about 96 dots per inch
    std::uint32_t yPelsPerMeter = 3780;
    std::uint32_t clrUsed = 0; // biClrUsed as written (0: all the bit count holds)
};
inline constexpr std::size_t kBmpHeaderSize = kBitmapFileHeaderSize + kInfoHeaderSize;
// Writes the 54 bytes to `out`; the file's size and the rows' offset follow
// from the fields (rows right after the colour table).
void WriteBmpHeader(const BmpHeaderFields& fields, std::uint8_t* out);

} // namespace zav
