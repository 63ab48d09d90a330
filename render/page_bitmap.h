// File side of the renderer: the name of the page bitmap, its 62-byte BMP
// header, and the bottom-up bitmap output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

#include "base/output_file.h"
#include "base/paths.h"
#include "render/renderer.h"

namespace zav {

// BITMAPFILEHEADER + BITMAPINFOHEADER + two RGBQUAD palette entries
// (0 white, 1 black), little-endian, 1 bit per dot, rows bottom-up.
inline constexpr std::size_t kPageBitmapHeaderSize = 62;

struct PageBitmapHeader {
    std::uint8_t bytes[kPageBitmapHeaderSize];
};

// The header with bfSize 62, biWidth 0 and biHeight 0.
PageBitmapHeader BlankPageBitmapHeader();

// Fills in the three fields that vary from page to page.
void CompletePageBitmapHeader(PageBitmapHeader& header, std::uint32_t fileSize, std::int32_t width,
                              std::int32_t height);

// Where a bitmap file's bytes go: blocks written at byte offsets, in any
// order. Returns false when a block could not be written whole.
class BlockOutput {
  public:
    virtual ~BlockOutput() = default;
    virtual bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
};

// The blocks go to an output file (its work file is made with the first
// block); whoever owns it puts it in place once the bitmap is whole. Blocks
// beyond the end leave a gap that a later block fills.
class FileBlockOutput final : public BlockOutput {
  public:
    explicit FileBlockOutput(OutputFile& out) : out_(out) {}
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        return out_.WriteAt(offset, data, size);
    }

  private:
    OutputFile& out_;
};

// A bitmap file kept in memory.
class VectorBlockOutput final : public BlockOutput {
  public:
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override;
    std::vector<std::uint8_t> bytes;
};

// Last stage of rendering: a RowSink that writes the rows of a page of known
// size straight to their places in the bottom-up bitmap file, where the
// header comes first and the top row last. Rows arrive top first and are
// gathered in `buffer` in file order, then written a block at a time; the
// last block, which begins the file, goes out together with the header.
class BottomUpBitmap final : public RowSink {
  public:
    // Buffer bytes for a page: the header and as many rows as fit in
    // about `limit` bytes (at least one, at most the page's).
    static std::size_t BufferBytesFor(std::uint32_t rowBytes, std::uint32_t rows,
                                      std::size_t limit = 256 * 1024);

    // `rows` rows of `rasterWidth` dots; `buffer` holds BufferBytesFor bytes.
    BottomUpBitmap(BlockOutput& out, std::uint32_t rasterWidth, std::uint32_t rows,
                   std::span<std::uint8_t> buffer);

    bool Row(const std::uint8_t* row) override;
    bool BlankRows(std::uint64_t count) override;
    // Writes what is still buffered. False when a write failed or the page
    // did not get exactly the rows it was made for.
    bool Finish();

  private:
    bool Flush();
    std::uint8_t* NextSlot();

    BlockOutput& out_;
    std::uint32_t rasterWidth_;
    std::uint32_t rowBytes_;
    std::uint32_t rows_;
    std::uint8_t* slots_;    // just after the header room
    std::uint32_t capacity_; // rows in one block
    std::uint32_t received_ = 0;
    std::uint32_t buffered_ = 0; // rows of the current block, at its end
    bool headerWritten_ = false;
    bool failed_ = false;
};

} // namespace zav
