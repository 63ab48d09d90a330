#include "base/timed_name.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/capture_names.h"

namespace zav {

namespace {

constexpr int kMostSuffixes = 10000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string CaptureTimeStamp(const std::tm& when) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return text;
}

bool BelongsToCapture(std::string_view file, std::string_view name) {
    if (!file.starts_with(name))
        return false;
    if (file.size() == name.size())
        return true;
    const char next = file[name.size()];
    return next == '.' || IsDigit(next);
}

std::string PickTimedCaptureName(const std::string& folder, const std::string& prefix,
                                 const std::tm& when) {
    namespace fs = std::filesystem;
    // Only the files that start like the name can take it or a suffixed one.
    const std::string stamped = prefix + "-" + CaptureTimeStamp(when);
    std::vector<std::string> files;
    std::error_code error;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::string file = it->path().filename().string();
        if (file.starts_with(stamped))
            files.push_back(std::move(file));
    }
    if (error)
        return {};

    for (int n = 1; n <= kMostSuffixes; ++n) {
        const std::string name = n == 1 ? stamped : stamped + "-" + std::to_string(n);
        bool taken = false;
        for (const std::string& file : files)
            taken = taken || BelongsToCapture(file, name);
        if (taken)
            continue;
        char base[kPathBufferSize];
        if (MakeBasePath(folder.c_str(), name.c_str(), base, sizeof base) != kBasePathOk)
            return {};
        return name;
    }
    return {};
}

} // namespace zav
