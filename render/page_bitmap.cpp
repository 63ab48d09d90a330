#include "render/page_bitmap.h"

#include <algorithm>
#include <cstring>

#include "base/bmp.h"
#include "render/renderer.h"

namespace zav {

PageBitmapHeader BlankPageBitmapHeader() {
    PageBitmapHeader h{};
    WriteBmpHeader({.bitCount = 1, .colours = 2}, h.bytes);
    std::memset(h.bytes + kBmpHeaderSize, 0xFF, 3); // palette 0: white; palette 1 stays black
    return h;
}

void CompletePageBitmapHeader(PageBitmapHeader& header, std::uint32_t fileSize, std::int32_t width,
                              std::int32_t height) {
    StoreLe32(header.bytes + 2, fileSize);
    StoreLe32(header.bytes + 18, static_cast<std::uint32_t>(width));
    StoreLe32(header.bytes + 22, static_cast<std::uint32_t>(height));
}

bool VectorBlockOutput::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    if (offset + size > bytes.size())
        bytes.resize(offset + size);
    if (size != 0)
        std::memcpy(bytes.data() + offset, data, size);
    return true;
}

std::size_t BottomUpBitmap::BufferBytesFor(std::uint32_t rowBytes, std::uint32_t rows,
                                           std::size_t limit) {
    if (rowBytes == 0)
        return kPageBitmapHeaderSize;
    const std::size_t blockRows =
        std::min<std::size_t>(std::max<std::size_t>(1, limit / rowBytes), rows);
    return kPageBitmapHeaderSize + blockRows * rowBytes;
}

BottomUpBitmap::BottomUpBitmap(BlockOutput& out, std::uint32_t rasterWidth, std::uint32_t rows,
                               std::span<std::uint8_t> buffer)
    : out_(out), rasterWidth_(rasterWidth), rowBytes_(rasterWidth / 8), rows_(rows),
      slots_(buffer.data() + kPageBitmapHeaderSize), capacity_(0) {
    if (buffer.size() < kPageBitmapHeaderSize) {
        failed_ = true;
        return;
    }
    if (rowBytes_ != 0) {
        capacity_ = static_cast<std::uint32_t>(
            std::min<std::size_t>((buffer.size() - kPageBitmapHeaderSize) / rowBytes_, rows));
        failed_ = rows != 0 && capacity_ == 0;
    }
}

std::uint8_t* BottomUpBitmap::NextSlot() {
    // Rows come top first and the file holds them bottom first, so a block
    // fills from its end.
    return slots_ + static_cast<std::size_t>(capacity_ - 1 - buffered_) * rowBytes_;
}

bool BottomUpBitmap::Row(const std::uint8_t* row) {
    if (failed_ || received_ == rows_) {
        failed_ = true;
        return false;
    }
    ++received_;
    if (rowBytes_ == 0)
        return true;
    std::memcpy(NextSlot(), row, rowBytes_);
    if (++buffered_ == capacity_)
        return Flush();
    return true;
}

bool BottomUpBitmap::BlankRows(std::uint64_t count) {
    if (failed_ || count > rows_ - received_) {
        failed_ = true;
        return false;
    }
    if (rowBytes_ == 0) {
        received_ += static_cast<std::uint32_t>(count);
        return true;
    }
    while (count > 0) {
        const std::uint32_t n =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(count, capacity_ - buffered_));
        std::memset(slots_ + static_cast<std::size_t>(capacity_ - buffered_ - n) * rowBytes_, 0,
                    static_cast<std::size_t>(n) * rowBytes_);
        buffered_ += n;
        received_ += n;
        count -= n;
        if (buffered_ == capacity_ && !Flush())
            return false;
    }
    return true;
}

bool BottomUpBitmap::Flush() {
    std::uint8_t* block = slots_ + static_cast<std::size_t>(capacity_ - buffered_) * rowBytes_;
    std::size_t size = static_cast<std::size_t>(buffered_) * rowBytes_;
    const std::uint64_t fileSize =
        kPageBitmapHeaderSize + static_cast<std::uint64_t>(rows_) * rowBytes_;
    // The block's last row is the lowest on the page so far: in the file it
    // comes first, after the rows still to come.
    std::uint64_t offset =
        kPageBitmapHeaderSize + static_cast<std::uint64_t>(rows_ - received_) * rowBytes_;
    if (received_ == rows_) {
        // The bottom rows begin the file, right after the header.
        PageBitmapHeader header = BlankPageBitmapHeader();
        CompletePageBitmapHeader(header, static_cast<std::uint32_t>(fileSize),
                                 static_cast<std::int32_t>(rasterWidth_),
                                 static_cast<std::int32_t>(rows_));
        block -= kPageBitmapHeaderSize;
        std::memcpy(block, header.bytes, kPageBitmapHeaderSize);
        size += kPageBitmapHeaderSize;
        offset = 0;
        headerWritten_ = true;
    }
    buffered_ = 0;
    if (!out_.WriteAt(offset, block, size))
        failed_ = true;
    return !failed_;
}

bool BottomUpBitmap::Finish() {
    if (failed_ || received_ != rows_)
        return false;
    return headerWritten_ || Flush();
}

} // namespace zav
