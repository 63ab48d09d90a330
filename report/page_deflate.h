// Flate for page images: a zlib stream (RFC 1950/1951) made for the 1-bit
// pages of a printout, which are mostly white, with rows of text or plot
// between. It looks for two kinds of repeat only: a byte that repeats the one
// before it (the long white runs) and a row that repeats the row above it
// (blank rows, ruled lines, the axes of a plot), and codes what it finds with
// Huffman codes made for each block. On printout pages this is several times
// faster than zlib's fastest setting (Z_RLE at level 1) at about the same
// size; any zlib-compatible decoder reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zav {

class PageDeflater {
  public:
    // Appends the zlib stream of `rows` rows of `rowBytes` bytes each, the
    // first at `top`, each next one `stride` bytes on (negative for rows
    // stored bottom-up). False, with nothing appended, when a size does not
    // fit (no rows or row bytes, rows over 64 KiB, or more than 1 GiB).
    bool Deflate(const std::uint8_t* top, std::ptrdiff_t stride, std::size_t rowBytes,
                 std::uint32_t rows, std::vector<std::uint8_t>& out);

  private:
    class Bits;
    void WriteBlock(bool last, std::size_t tokens, Bits& bits);

    std::vector<std::uint32_t> tokens_; // a byte, or a match's length and distance
    std::vector<std::uint8_t> written_; // the stream, until it is whole
    std::uint32_t litLenCounts_[286] = {};
    std::uint32_t distCounts_[30] = {};
    std::uint32_t rowDistance_ = 0; // 0: rows too long to be matched
    std::uint16_t rowSymbol_ = 0;   // the distance code of a row
};

} // namespace zav
