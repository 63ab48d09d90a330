// File side of the renderer: the names of the work files and of the page
// bitmap, the 62-byte BMP header, and the bottom-up bitmap output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "render/paths.h"

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

// Writes `path` with its extension replaced by `extension` into `out`
// (outSize bytes, terminator included). The file-name part starts after the
// last separator of `style`; everything after its last '.' is replaced, or
// "." and the extension are appended when it has none. Returns false, leaving
// `out` empty, when the name does not fit.
bool ReplaceExtension(std::string_view path, std::string_view extension, char* out,
                      std::size_t outSize = kPathBufferSize, PathStyle style = kHostPathStyle);

// Last stage of rendering. `rowFile` holds a placeholder header followed by
// `rows` raster rows of `rowBytes` bytes, top row first; it is completed,
// closed, read back whole and deleted (at `rowPath`), and the page bitmap is
// written at `bitmapPath` with the rows in bottom-up order.
// Returns 0, -3 when the row file cannot be read back whole, or -4 when the
// row file cannot be completed or reopened or the page bitmap cannot be written.
int WriteBottomUpBitmap(std::FILE* rowFile, const char* rowPath, const char* bitmapPath,
                        std::uint32_t rasterWidth, std::uint32_t rowBytes, std::uint32_t rows);

} // namespace zav
