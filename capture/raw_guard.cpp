#include "capture/raw_guard.h"

#include <string>

namespace zav {

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
