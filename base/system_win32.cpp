#include "base/system.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace zav {

bool IsSupportedSystem() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#ifdef _MSC_VER
#pragma warning(suppress : 4996) // GetVersionExA is deprecated, but all we need
#endif
    BOOL ok = GetVersionExA(&info);
    return ok && IsSupportedVersion(info.dwPlatformId, info.dwMajorVersion);
}

} // namespace zav
