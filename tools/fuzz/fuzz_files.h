// The fuzz targets' folder for the files some inputs go through.
#pragma once

#include <filesystem>

#include "work_folder.h"

namespace zavfuzz {

// A folder of its own under the temporary folder, made at the first call and
// removed with everything in it when the fuzzer exits.
inline const std::filesystem::path& WorkFolder() {
    static const zavtool::WorkFolder folder("zav_fuzz");
    return folder.Path();
}

} // namespace zavfuzz
