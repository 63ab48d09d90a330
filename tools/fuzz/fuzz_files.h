// The fuzz targets' folder for the files some inputs go through.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zavfuzz {

// A folder of its own under the temporary folder, made at the first call and
// removed with everything in it when the fuzzer exits.
inline const std::filesystem::path& WorkFolder() {
    namespace fs = std::filesystem;
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() /
                     ("zav_fuzz_" + std::to_string(static_cast<unsigned long>(std::rand())) + "_" +
                      std::to_string(reinterpret_cast<std::uintptr_t>(&p) & 0xFFFFF));
        fs::create_directories(p);
        return p;
    }();
    static const struct Remover {
        ~Remover() {
            std::error_code error;
            fs::remove_all(folder, error);
        }
    } remover;
    return folder;
}

} // namespace zavfuzz
