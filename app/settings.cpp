#include "app/settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace zav {

bool SettingTextFromValue(unsigned long type, char* buf, std::size_t size) {
    if (!buf || size > kSettingBufferSize)
        return false;
    if (type == kRegDword && size == 4) {
        std::uint32_t v = 0;
        std::memcpy(&v, buf, 4);
        std::snprintf(buf, kSettingBufferSize, "%lu", static_cast<unsigned long>(v));
        return true;
    }
    if (type == kRegQword && size == 8) {
        std::uint64_t v = 0;
        std::memcpy(&v, buf, 8);
        std::snprintf(buf, kSettingBufferSize, "%llu", static_cast<unsigned long long>(v));
        return true;
    }
    if (size > 0 && std::memchr(buf, '\0', size))
        return true;
    if (size == kSettingBufferSize)
        return false; // text without its terminator fills the buffer: it did not fit
    buf[size] = '\0';
    return true;
}

} // namespace zav
