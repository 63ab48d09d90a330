#include "render/page_bitmap.h"

#include <cstring>

#include "render/renderer.h"
#include "render/stdio_file.h"

namespace zav {

namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v & 0xFFFFu);
    Put16(p + 2, v >> 16);
}

} // namespace

PageBitmapHeader BlankPageBitmapHeader() {
    PageBitmapHeader h{};
    std::uint8_t* b = h.bytes;
    b[0] = 'B';
    b[1] = 'M';
    Put32(b + 2, kPageBitmapHeaderSize);  // bfSize
    Put32(b + 10, kPageBitmapHeaderSize); // bfOffBits
    Put32(b + 14, 40);                    // biSize
    Put16(b + 26, 1);                     // biPlanes
    Put16(b + 28, 1);                     // biBitCount
    Put32(b + 38, 3780);                  // biXPelsPerMeter, about 96 dpi
    Put32(b + 42, 3780);                  // biYPelsPerMeter
    std::memset(b + 54, 0xFF, 3);         // palette 0: white; palette 1 stays black
    return h;
}

void CompletePageBitmapHeader(PageBitmapHeader& header, std::uint32_t fileSize, std::int32_t width,
                              std::int32_t height) {
    Put32(header.bytes + 2, fileSize);
    Put32(header.bytes + 18, static_cast<std::uint32_t>(width));
    Put32(header.bytes + 22, static_cast<std::uint32_t>(height));
}

bool ReplaceExtension(std::string_view path, std::string_view extension, char* out,
                      std::size_t outSize, PathStyle style) {
    if (outSize == 0)
        return false;
    out[0] = '\0';
    const std::size_t nameStart = FileNameOffset(path, style);
    std::size_t stem = path.size();
    const std::size_t dot = path.rfind('.');
    if (dot != std::string_view::npos && dot >= nameStart)
        stem = dot;
    const std::size_t length = stem + 1 + extension.size();
    if (length + 1 > outSize)
        return false;
    std::memcpy(out, path.data(), stem);
    out[stem] = '.';
    std::memcpy(out + stem + 1, extension.data(), extension.size());
    out[length] = '\0';
    return true;
}

int WriteBottomUpBitmap(std::FILE* rowFile, const char* rowPath, const char* bitmapPath,
                        std::uint32_t rasterWidth, std::uint32_t rowBytes, std::uint32_t rows) {
    UniqueFile rowOut(rowFile);
    const std::uint64_t fileSize =
        kPageBitmapHeaderSize + static_cast<std::uint64_t>(rows) * rowBytes;
    PageBitmapHeader header = BlankPageBitmapHeader();
    CompletePageBitmapHeader(header, static_cast<std::uint32_t>(fileSize),
                             static_cast<std::int32_t>(rasterWidth),
                             static_cast<std::int32_t>(rows));

    if (std::fseek(rowOut.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(header.bytes, 1, sizeof header.bytes, rowOut.get()) != sizeof header.bytes ||
        !CloseFile(rowOut))
        return kRenderCannotCreate;

    FileBytes raster;
    {
        UniqueFile rowIn = OpenFile(rowPath, "rb");
        if (!rowIn)
            return kRenderCannotCreate;
        const ReadWholeResult read = ReadWholeFile(rowIn.get(), raster);
        if (read != ReadWholeResult::Ok || raster.size != fileSize)
            return kRenderCannotRead;
    }
    std::remove(rowPath);

    UniqueFile bitmap = OpenFile(bitmapPath, "wb");
    if (!bitmap)
        return kRenderCannotCreate;
    bool ok = std::fwrite(raster.data.get(), 1, kPageBitmapHeaderSize, bitmap.get()) ==
              kPageBitmapHeaderSize;
    for (std::uint32_t row = rows; ok && row > 0 && rowBytes > 0; --row) {
        const std::uint8_t* src = raster.data.get() + kPageBitmapHeaderSize +
                                  static_cast<std::size_t>(row - 1) * rowBytes;
        ok = std::fwrite(src, 1, rowBytes, bitmap.get()) == rowBytes;
    }
    if (!CloseFile(bitmap) || !ok) {
        std::remove(bitmapPath); // a cut-off bitmap would pass for a whole page
        return kRenderCannotCreate;
    }
    return kRenderOk;
}

} // namespace zav
