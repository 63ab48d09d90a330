// libFuzzer target: whatever bytes a picture file holds go through the bitmap
// parser, and the first bytes also drive the bitmap field's drawing and value
// rules. Besides the sanitizers (the input buffer is exactly as long as the
// input, so any read past it is caught) it checks what must hold for any
// input:
//  - an accepted file has its colour table and every row inside it, and every
//    colour and row byte can be read;
//  - the rows follow the header and the colour table, never overlap them;
//  - a centred picture is never drawn outside the field's 2-pixel margin nor
//    from outside the picture;
//  - the field's value never writes past the buffer it is given.
//
//   zav_fuzz_dib -max_len=65536 CORPUS_DIR SEED_DIR...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "bitmap/bitmap_field.h"
#include "bitmap/dib.h"

namespace {

volatile unsigned g_sink; // keeps the reads of colours and rows

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "zav_fuzz_dib: %s\n", what);
        std::abort();
    }
}

int Int16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(p[0] | p[1] << 8);
}

void FuzzFile(std::span<const std::uint8_t> file) {
    const auto layout = zav::ParsePictureFile(file);
    if (!layout)
        return;
    Check(file.size() >= zav::kBitmapFileHeaderSize, "accepted a file without a file header");
    const std::span<const std::uint8_t> block = file.subspan(zav::kBitmapFileHeaderSize);
    Check(layout->bitsOffset >= zav::DibBits(block), "rows overlap the header or colour table");
    Check(layout->bitsOffset + layout->bitsSize <= block.size(), "rows past the end");
    Check(layout->bitsSize == static_cast<std::uint64_t>(layout->stride) * layout->Rows(),
          "row size and count disagree");
    Check(layout->stride % 4 == 0 &&
              layout->stride * 8ull >= static_cast<std::uint64_t>(layout->width) * layout->bitCount,
          "rows too short for the width");
    Check(layout->colorCount <= 256, "too many colours");
    unsigned sum = 0;
    for (std::uint32_t i = 0; i < layout->colorCount; ++i) {
        const zav::DibRgb c = zav::DibColor(block, *layout, i);
        sum += c.red + c.green + c.blue;
    }
    for (std::uint64_t i = 0; i < layout->bitsSize; i += 61)
        sum += block[layout->bitsOffset + i];
    if (layout->bitsSize)
        sum += block[layout->bitsOffset + layout->bitsSize - 1];
    g_sink = sum;
}

void FuzzField(const std::uint8_t* data, std::size_t size) {
    if (size < 10)
        return;
    const int W = Int16(data), H = Int16(data + 2), w = Int16(data + 4), h = Int16(data + 6);
    const zav::BitmapBlit b = zav::PlanBitmapPaint(data[8] % 6, data[9], W, H, w, h);
    if (!b.stretch && !b.Empty()) {
        Check(b.x >= 2 && b.y >= 2 && b.x + b.width <= W - 2 && b.y + b.height <= H - 2,
              "drawn outside the margin");
        Check(b.srcX >= 0 && b.srcY >= 0 && b.srcX + b.width <= w && b.srcY + b.height <= h,
              "drawn from outside the picture");
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 10), size - 10);
    zav::ParseBitmapFieldValue(text);
    (void)zav::HasBitmapExtension(text);
    const std::intptr_t room = data[8] % 16;
    char buf[16 + 1];
    buf[room] = '\x5A';
    const std::intptr_t n = zav::CopyBitmapFieldValue(text, buf, room);
    Check(buf[room] == '\x5A', "value written past its buffer");
    Check(n <= static_cast<std::intptr_t>(text.size()) && (room == 0 || n <= room),
          "value length wrong");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzFile(std::span<const std::uint8_t>(data, size));
    FuzzField(data, size);
    return 0;
}
