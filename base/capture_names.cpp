#include "base/capture_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/paths.h"
#include "base/stdio_file.h"

namespace zav {

namespace {

namespace fs = std::filesystem;

// Windows file names do not tell letter case apart.
bool SameName(std::string_view a, std::string_view b) {
    if (kHostPathStyle == PathStyle::Posix)
        return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// Whether `file` (a name without folder) belongs to the capture named `name`.
bool BelongsTo(std::string_view file, std::string_view name) {
    if (!StartsWith(file, name))
        return false;
    std::string_view rest = file.substr(name.size());
    for (std::string_view own : {".html", ".pdf", ".txt"}) {
        if (SameName(rest, own))
            return true;
    }
    // An optional page number of three or more digits, then a capture file,
    // bitmap or recording extension.
    std::size_t digits = 0;
    while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])))
        ++digits;
    if (digits != 0 && digits < 3)
        return false;
    rest.remove_prefix(digits);
    for (std::string_view made : {".cpt", ".bmp", ".tmp"}) {
        if (SameName(rest, made))
            return true;
    }
    return false;
}

} // namespace

int MakeBasePath(const char* folder, const char* name, char* out, std::size_t outSize) {
    if (out && outSize)
        out[0] = '\0';
    const std::string_view dir = folder ? folder : "";
    const std::string_view file = name ? name : "";
    if (file.empty())
        return kBasePathNoName;
    const bool addSeparator = !dir.empty() && !IsPathSeparator(dir.back());
    const std::size_t length = dir.size() + (addSeparator ? 1 : 0) + file.size();
    if (!out || length > kMaxBasePathLength || length >= outSize)
        return kBasePathTooLong;
    std::memcpy(out, dir.data(), dir.size());
    std::size_t at = dir.size();
    if (addSeparator)
        out[at++] = kPreferredSeparator;
    std::memcpy(out + at, file.data(), file.size());
    out[length] = '\0';
    return kBasePathOk;
}

int CaptureNames::Make(std::string_view folder, std::string_view name, CaptureNames& out) {
    char base[kPathBufferSize];
    const std::string dir(folder);
    const std::string file(name);
    const int formed = MakeBasePath(dir.c_str(), file.c_str(), base, sizeof base);
    out = CaptureNames(formed == kBasePathOk ? std::string(base) : std::string());
    return formed;
}

std::string_view CaptureNames::Name() const {
    return std::string_view(base_).substr(FileNameOffset(base_));
}

std::string CaptureNames::PageCapture(unsigned page) const {
    char number[16];
    std::snprintf(number, sizeof number, "%03u", page);
    return base_ + number + ".cpt";
}

std::string CaptureNames::BitmapOf(std::string_view capturePath) {
    char out[kPathBufferSize];
    return ReplaceExtension(capturePath, "bmp", out) ? std::string(out) : std::string();
}

std::vector<std::string> CaptureNames::RenderOutputsOf(std::string_view capturePath) {
    std::vector<std::string> names;
    char out[kPathBufferSize];
    for (std::string_view extension : {"bmp"}) {
        if (ReplaceExtension(capturePath, extension, out))
            names.emplace_back(out);
    }
    return names;
}

bool CaptureNames::WouldBeWritten(const char* path, std::string_view capturePath) {
    const std::string capture(capturePath);
    if (IsSameFile(path, capture.c_str()))
        return true;
    for (const std::string& made : RenderOutputsOf(capturePath)) {
        if (IsSameFile(path, made.c_str()))
            return true;
    }
    return false;
}

bool CaptureNames::IsReportFile(const char* path) const {
    return IsSameFile(path, Report().c_str()) || IsSameFile(path, Pdf().c_str()) ||
           IsSameFile(path, Text().c_str());
}

bool CaptureNames::RecordingExists() const {
    std::error_code error;
    return !base_.empty() && fs::exists(Recording(), error);
}

std::vector<std::string> CaptureNames::Existing() const {
    std::vector<std::string> found;
    if (base_.empty())
        return found;
    const std::size_t split = FileNameOffset(base_);
    const std::string_view name = Name();
    const fs::path folder = split == 0 ? fs::path(".") : fs::path(base_.substr(0, split));
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string file = it->path().filename().string();
        if (BelongsTo(file, name))
            found.push_back(base_.substr(0, split) + file);
    }
    std::sort(found.begin(), found.end());
    const std::string recording = Recording();
    auto at = std::find_if(found.begin(), found.end(),
                           [&](const std::string& f) { return SameName(f, recording); });
    if (at != found.end())
        std::rotate(found.begin(), at, at + 1);
    return found;
}

} // namespace zav
