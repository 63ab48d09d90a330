#include "base/paths.h"

#include <cstdio>
#include <cstring>

namespace zav {

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

bool SheetBitmapName(std::string_view capturePath, unsigned sheet, char* out, std::size_t outSize,
                     PathStyle style) {
    if (sheet == 0 || !ReplaceExtension(capturePath, "bmp", out, outSize, style)) {
        if (outSize != 0)
            out[0] = '\0';
        return false;
    }
    if (sheet == 1)
        return true;
    char suffix[16];
    const int suffixLength = std::snprintf(suffix, sizeof suffix, "-%u", sheet);
    const std::size_t length = std::strlen(out);
    const std::size_t stem = length - 4; // before ".bmp"
    if (length + static_cast<std::size_t>(suffixLength) + 1 > outSize) {
        out[0] = '\0';
        return false;
    }
    std::memmove(out + stem + suffixLength, out + stem, 5);
    std::memcpy(out + stem, suffix, static_cast<std::size_t>(suffixLength));
    return true;
}

} // namespace zav
