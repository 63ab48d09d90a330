#include "base/capture_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <map>

#include "base/output_file.h"
#include "base/paths.h"
#include "base/stdio_file.h"
#include "base/utf8_names.h"

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

std::size_t LeadingDigits(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    return digits;
}

// A name that leads elsewhere than into the folder: a separator, and on
// Windows a drive or stream colon.
bool IsNotAName(std::string_view name) {
    for (char c : name) {
        if (IsPathSeparator(c) || (kHostPathStyle == PathStyle::Windows && c == ':'))
            return true;
    }
    return false;
}

} // namespace

bool IsCaptureFile(std::string_view file, std::string_view name, CaptureFileKind* kind,
                   std::string* sheetOf) {
    if (sheetOf)
        sheetOf->clear();
    if (name.empty() || !StartsWith(file, name))
        return false;
    std::string_view rest = file.substr(name.size());
    // What a writer left of an own file.
    if (IsWorkFileName(rest))
        rest.remove_suffix(std::string_view(".12345678.part").size());
    const auto found = [&](CaptureFileKind what) {
        if (kind)
            *kind = what;
        return true;
    };
    for (const OwnFile& own : kOwnFiles) {
        if (!own.perCaptureFile && SameName(rest, own.suffix))
            return found(own.kind);
    }
    // A capture file's own: NAME or NAME and a page number of three digits
    // or more, then its suffix.
    const std::size_t digits = LeadingDigits(rest);
    if (digits != 0 && digits < 3)
        return false;
    const std::string_view stem = file.substr(0, name.size() + digits);
    rest.remove_prefix(digits);
    for (const OwnFile& own : kOwnFiles) {
        if (own.perCaptureFile && SameName(rest, own.suffix))
            return found(own.kind);
    }
    // A further sheet: "-K.bmp", K from 2, no leading zero.
    if (rest.size() < 2 || rest[0] != '-' || rest[1] < '1' || rest[1] > '9')
        return false;
    const std::size_t sheetDigits = LeadingDigits(rest.substr(1));
    if ((sheetDigits == 1 && rest[1] == '1') || !SameName(rest.substr(1 + sheetDigits), ".bmp"))
        return false;
    if (sheetOf)
        *sheetOf = stem;
    return found(CaptureFileKind::kOutput);
}

BasePathResult MakeBasePath(const char* folder, const char* name, char* out, std::size_t outSize) {
    if (out && outSize)
        out[0] = '\0';
    const std::string_view dir = folder ? folder : "";
    const std::string_view file = name ? name : "";
    if (file.empty())
        return kBasePathNoName;
    if (IsNotAName(file))
        return kBasePathNotAName;
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

std::string CaptureNames::BitmapOf(std::string_view capturePath, unsigned sheet) {
    char out[kPathBufferSize];
    return SheetBitmapName(capturePath, sheet, out) ? std::string(out) : std::string();
}

bool CaptureNames::WouldBeWritten(const char* path, std::string_view capturePath) {
    const std::string capture(capturePath);
    if (IsSameFile(path, capture.c_str()))
        return true;
    const std::string bitmap = BitmapOf(capturePath);
    return !bitmap.empty() && IsSameFile(path, bitmap.c_str());
}

bool CaptureNames::IsReportFile(const char* path) const {
    return IsSameFile(path, Report().c_str()) || IsSameFile(path, Pdf().c_str()) ||
           IsSameFile(path, Text().c_str());
}

bool CaptureNames::RecordingExists() const {
    std::error_code error;
    return !base_.empty() && fs::exists(PathOf(Recording()), error);
}

std::vector<CaptureNames::File> CaptureNames::Files(bool mayBeOurs) const {
    std::vector<File> found;
    if (base_.empty())
        return found;
    const std::size_t split = FileNameOffset(base_);
    const std::string_view name = Name();
    const fs::path folder = split == 0 ? fs::path(".") : PathOf(base_.substr(0, split));
    // Every name of the capture begins with its name: only those are kept
    // of a folder that may hold the files of thousands of captures.
    std::map<std::string, bool> all; // name, and whether it is a folder
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::string file = Utf8Of(it->path().filename());
        if (!StartsWith(file, name))
            continue;
        std::error_code typeError;
        all.emplace(std::move(file), it->is_directory(typeError));
    }
    std::string sheetOf;
    for (const auto& [file, isFolder] : all) {
        CaptureFileKind kind = CaptureFileKind::kOutput;
        if (!IsCaptureFile(file, name, &kind, &sheetOf) || kind == CaptureFileKind::kClaim)
            continue;
        // A folder under such a name is in the way, but never replaced.
        if (isFolder && !mayBeOurs)
            continue;
        if (!sheetOf.empty() && !mayBeOurs) {
            // X-K.bmp beside a capture file X-K.cpt is that capture's bitmap.
            const std::string bitmap = file.substr(0, file.rfind(".bmp"));
            if (all.count(bitmap + ".cpt") != 0)
                continue;
        }
        found.push_back({base_.substr(0, split) + file, kind});
    }
    return found;
}

std::vector<std::string> CaptureNames::Existing() const {
    std::vector<std::string> found;
    for (File& file : Files(true))
        found.push_back(std::move(file.path));
    // The recording, then the report, then the others in name order.
    const auto rank = [this](const std::string& path) {
        return SameName(path, Recording()) ? 0 : SameName(path, Report()) ? 1 : 2;
    };
    std::stable_sort(found.begin(), found.end(),
                     [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
    return found;
}

} // namespace zav
