#include "bitmap/dib.h"

#include <cctype>

namespace zav {

bool HasBitmapExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view ext = name.substr(dot + 1);
    if (ext.size() != 3)
        return false;
    auto is = [&](const char* want) {
        for (std::size_t i = 0; i < 3; ++i) {
            if (std::tolower(static_cast<unsigned char>(ext[i])) != want[i])
                return false;
        }
        return true;
    };
    return is("bmp") || is("bpt") || is("tmp");
}

} // namespace zav
