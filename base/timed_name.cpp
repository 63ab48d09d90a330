#include "base/timed_name.h"

#include <cstdio>

#include "base/capture_names.h"

namespace zav {

namespace {

constexpr int kMostSuffixes = 10000;

} // namespace

std::tm LocalTime(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

std::string CaptureTimeStamp(const std::tm& when) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return text;
}

std::string ClaimTimedCaptureName(const std::string& folder, const std::string& prefix,
                                  const std::tm& when, NameClaim& claim, SystemError& error) {
    const std::string stamped = prefix + "-" + CaptureTimeStamp(when);
    for (int n = 1; n <= kMostSuffixes; ++n) {
        const std::string name = n == 1 ? stamped : stamped + "-" + std::to_string(n);
        CaptureNames names;
        if (CaptureNames::Make(folder, name, names) != kBasePathOk)
            return {};
        switch (claim.Take(names.Claim(), &error)) {
        case NameClaim::kFailed:
            return {};
        case NameClaim::kTaken:
            continue; // another watch makes a capture of that name
        case NameClaim::kClaimed:
            break;
        }
        // Held: whoever made files of this name made them before letting go.
        if (!names.AnyExists())
            return name;
        claim.Release();
    }
    return {};
}

} // namespace zav
