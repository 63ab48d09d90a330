// The operating systems the program accepts.
#pragma once

namespace zav {

// True on Windows NT with a major version above 4 (Windows 2000 and later).
bool IsSupportedSystem();

// The rule on the version figures: platform 2 (NT) and major version above 4.
constexpr bool IsSupportedVersion(unsigned long platformId, unsigned long majorVersion) {
    return platformId == 2 && majorVersion > 4;
}

} // namespace zav
