// An open registry key that closes itself (Windows only).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace zav {

struct RegKey {
    HKEY key = nullptr;
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (key)
            RegCloseKey(key);
    }
};

} // namespace zav
