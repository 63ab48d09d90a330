#include "capture/raw_guard.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace zav {

bool IsSameFile(const char* a, const char* b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

bool IsRegularFile(const char* path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool RawWouldBeOverwritten(const char* rawPath, std::string_view stem) {
    std::string name;
    for (const char* extension : {".cpt", ".tmp", ".$$$", ".bmp"}) {
        name.assign(stem).append(extension);
        if (IsSameFile(rawPath, name.c_str()))
            return true;
    }
    return false;
}

} // namespace zav
