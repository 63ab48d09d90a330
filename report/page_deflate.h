// Flate made for the pages of a printout: zlib streams (RFC 1950/1951) that
// any zlib-compatible decoder reads. For a page image, 1 bit per dot and
// mostly white with rows of text or plot between, it looks for two kinds of
// repeat only: a byte that repeats the one before it (the long white runs)
// and a row that repeats the row above it (blank rows, ruled lines, the axes
// of a plot). For a page's text content stream it looks up each four bytes
// once in a table of where they last stood. Both code what they find with
// Huffman codes made from the counts of a block and used for the next ones
// too while they fit: the pages of a printout are much alike. One per kind of
// stream and thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
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
    // Appends the zlib stream of `size` bytes of any kind (a content stream).
    // False, with nothing appended, for none or more than 1 GiB.
    bool DeflateBytes(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

  private:
    class Bits;
    static constexpr int kRecentBits = 12;
    void Start(std::size_t more);
    void Literal(std::uint8_t byte) {
        tokens_[count_++] = byte;
        ++litLenCounts_[byte];
    }
    void Match(std::size_t length, std::uint32_t distance, Bits& bits);
    void BuildCodes();
    void WriteBlock(bool last, Bits& bits);
    void Finish(Bits& bits, std::uint32_t adler, std::vector<std::uint8_t>& out);

    std::vector<std::uint32_t> tokens_; // a byte, or a match's length and distance
    std::size_t count_ = 0;             // tokens of the block being made
    std::vector<std::uint8_t> written_; // the stream, until it is whole
    std::uint32_t litLenCounts_[286] = {};
    std::uint32_t distCounts_[30] = {};
    std::uint32_t recent_[1 << kRecentBits] = {}; // text: where each hash last stood
    // The codes in use, the block header that sends them (bits and their
    // count, after the first bit) and the blocks they have served.
    std::uint8_t litLenBits_[286] = {};
    std::uint8_t distBits_[30] = {};
    std::uint16_t litLenCode_[286] = {};
    std::uint16_t distCode_[30] = {};
    std::vector<std::pair<std::uint32_t, int>> header_;
    unsigned builtFor_ = 0;
};

} // namespace zav
