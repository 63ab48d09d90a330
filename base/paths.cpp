#include "base/paths.h"

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

} // namespace zav
