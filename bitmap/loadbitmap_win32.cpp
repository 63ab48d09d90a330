// Bitmap files into screen bitmaps. The file is held only while loading; the
// bounds-checked parser decides what is a bitmap, so nothing outside the file's
// bytes is ever read.
#include "bitmap/loadbitmap_win32.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bitmap/dib.h"

namespace zav {
namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

bool HasFolder(const char* name) {
    return std::strpbrk(name, "\\/:") != nullptr;
}

// Where a bare name is looked for first: beside the program.
std::string BesideProgram(const char* name) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return {};
    std::string beside(path, n);
    const std::size_t slash = beside.find_last_of("\\/");
    if (slash == std::string::npos)
        return {};
    beside.resize(slash + 1);
    return beside + name;
}

HANDLE OpenForReading(const std::string& path) {
    // Readers may share the file, writers are shut out while it is read.
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The whole file, or empty when it cannot be read or is larger than a
// bitmap file may be.
std::vector<std::uint8_t> ReadBitmapBytes(const char* name) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (!HasFolder(name)) {
        const std::string beside = BesideProgram(name);
        if (!beside.empty())
            h = OpenForReading(beside);
    }
    if (h == INVALID_HANDLE_VALUE)
        h = OpenForReading(name);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    UniqueHandle file(h);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || size.QuadPart < static_cast<LONGLONG>(kBitmapFileHeaderSize) ||
        static_cast<std::uint64_t>(size.QuadPart) > kMaxBitmapFileSize)
        return {};
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return {};
    }
    DWORD got = 0;
    if (!ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
        got != bytes.size())
        return {};
    return bytes;
}

HPALETTE PaletteOf(std::span<const std::uint8_t> block, const DibLayout& layout) {
    if (layout.colorCount == 0)
        return nullptr;
    std::vector<std::uint8_t> mem(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * layout.colorCount);
    auto* lp = reinterpret_cast<LOGPALETTE*>(mem.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(layout.colorCount);
    for (std::uint32_t i = 0; i < layout.colorCount; ++i) {
        const DibRgb c = DibColor(block, layout, i);
        lp->palPalEntry[i] = PALETTEENTRY{c.red, c.green, c.blue, 0};
    }
    return CreatePalette(lp);
}

// The colour information handed to the bitmap creation, always as a 40-byte
// information header with 4-byte colour entries, whatever header the file had.
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

void FillInfo(std::span<const std::uint8_t> block, const DibLayout& layout, DibInfo& info) {
    std::memset(&info, 0, sizeof info);
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = layout.width;
    info.header.biHeight = layout.height;
    info.header.biPlanes = 1;
    info.header.biBitCount = layout.bitCount;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = layout.bitCount <= 8 ? layout.colorCount : 0;
    for (std::uint32_t i = 0; i < layout.colorCount && i < 256; ++i) {
        const DibRgb c = DibColor(block, layout, i);
        info.colors[i] = RGBQUAD{c.blue, c.green, c.red, 0};
    }
}

} // namespace

HPALETTE CreateDibPalette(std::span<const std::uint8_t> block) {
    const std::optional<DibLayout> layout = ParseDib(block, kPictureLimits);
    return layout ? PaletteOf(block, *layout) : nullptr;
}

HBITMAP LoadBitmapFile(const char* name, HPALETTE* palette) {
    if (!name || !*name)
        return nullptr;
    std::vector<std::uint8_t> file;
    try {
        file = ReadBitmapBytes(name);
    } catch (...) {
        return nullptr;
    }
    const std::optional<DibLayout> layout = ParsePictureFile(file);
    if (!layout)
        return nullptr;
    const std::span<const std::uint8_t> block =
        std::span<const std::uint8_t>(file).subspan(kBitmapFileHeaderSize);
    auto info = std::make_unique<DibInfo>();
    FillInfo(block, *layout, *info);

    HDC screen = GetDC(nullptr);
    if (!screen)
        return nullptr;
    HPALETTE pal = PaletteOf(block, *layout);
    HPALETTE previous = pal ? SelectPalette(screen, pal, FALSE) : nullptr;
    RealizePalette(screen);
    HBITMAP bitmap =
        CreateDIBitmap(screen, &info->header, CBM_INIT, block.data() + layout->bitsOffset,
                       reinterpret_cast<const BITMAPINFO*>(info.get()), DIB_RGB_COLORS);
    if (previous)
        SelectPalette(screen, previous, FALSE);
    ReleaseDC(nullptr, screen);
    if (palette)
        *palette = pal;
    else if (pal)
        DeleteObject(pal);
    return bitmap;
}

HBITMAP LoadBitmapByExtension(const char* name, HPALETTE* palette) {
    if (!name || !HasBitmapExtension(name))
        return nullptr;
    return LoadBitmapFile(name, palette);
}

} // namespace zav
