#include "base/utf8_names.h"

namespace zav {

std::filesystem::path PathOf(std::string_view utf8) {
    return std::filesystem::path(utf8);
}

std::string Utf8Of(const std::filesystem::path& path) {
    return path.string();
}

std::string WholePath(std::string_view utf8) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(PathOf(utf8), error);
    return error ? std::string() : Utf8Of(whole.lexically_normal());
}

} // namespace zav
