// The pictures the dialogs' bitmap field shows: any BMP the format allows
// (base/bmp.h), within limits that keep a drawable copy small.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/bmp.h"

namespace zav {

// Larger files are refused before any memory is taken for them.
inline constexpr std::uint64_t kMaxBitmapFileSize = 64u << 20;
// Larger pictures are refused: a drawable copy of one would take gigabytes.
inline constexpr std::uint64_t kMaxBitmapPixels = 1u << 26;

inline constexpr BmpLimits kPictureLimits{.maxFileSize = kMaxBitmapFileSize,
                                          .maxPixels = kMaxBitmapPixels};

// A picture file as the field reads it.
inline std::optional<DibLayout> ParsePictureFile(std::span<const std::uint8_t> file) {
    return ParseBitmapFile(file, kPictureLimits);
}

// Whether a file name has one of the picture extensions "bmp", "bpt" or "tmp"
// (any case) after the last dot of the whole name.
bool HasBitmapExtension(std::string_view name);

} // namespace zav
