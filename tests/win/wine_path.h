// Paths the build hands to the tests, as the Windows program sees them: under
// Wine the build machine's root is drive Z:.
#pragma once

#include <string>

inline std::string WindowsPath(const char* path) {
    std::string out = path;
#ifdef ZAV_WINE_PATHS
    if (!out.empty() && out[0] == '/')
        out = "Z:" + out;
#endif
    for (char& c : out) {
        if (c == '/')
            c = '\\';
    }
    return out;
}
