#include "app/about.h"

#include <cstring>

namespace zav {

bool SiblingFilePath(const char* modulePath, const char* name, char* out, std::size_t size) {
    if (!out || size == 0)
        return false;
    out[0] = '\0';
    if (!modulePath || !name)
        return false;
    const char* slash = std::strrchr(modulePath, '\\');
    if (!slash)
        return false;
    const std::size_t folder = static_cast<std::size_t>(slash - modulePath) + 1;
    const std::size_t length = std::strlen(name);
    if (folder + length >= size)
        return false;
    std::memcpy(out, modulePath, folder);
    std::memcpy(out + folder, name, length + 1);
    return true;
}

} // namespace zav
