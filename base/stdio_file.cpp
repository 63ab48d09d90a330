#include "base/stdio_file.h"

#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

#include "base/file_io.h"
#include "base/utf8_names.h"

namespace zav {

std::FILE* OpenStream(const char* path, const char* mode) {
#ifdef _WIN32
    return _wfopen(WideFileName(path).c_str(), WideOf(mode).c_str());
#else
    return std::fopen(path, mode);
#endif
}

bool SeekFile(std::FILE* file, std::uint64_t offset) {
    if (offset <= static_cast<std::uint64_t>(std::numeric_limits<long>::max()))
        return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
#ifdef _WIN32
    // The C runtime's own 64-bit seek; a long holds only 31 bits of offset.
    return offset <= static_cast<std::uint64_t>(std::numeric_limits<long long>::max()) &&
           _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return false;
#endif
}

ReadWholeResult ReadWholeFile(std::FILE* file, FileBytes& out) {
    out = FileBytes{};
    if (std::fseek(file, 0, SEEK_END) != 0)
        return ReadWholeResult::ShortRead;
    const long end = std::ftell(file);
    if (end <= 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return ReadWholeResult::ShortRead;
    // Something that opens but cannot be read (a folder on POSIX) may report
    // any size at all: make sure a byte arrives before asking for the block.
    if (std::fgetc(file) == EOF || std::fseek(file, 0, SEEK_SET) != 0)
        return ReadWholeResult::ShortRead;
    const auto size = static_cast<std::size_t>(end);
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[size]);
    if (!block)
        return ReadWholeResult::NoMemory;
    if (std::fread(block.get(), 1, size, file) != size)
        return ReadWholeResult::ShortRead;
    out.data = std::move(block);
    out.size = size;
    return ReadWholeResult::Ok;
}

bool IsSameFile(const char* a, const char* b) {
    // By the system's own identity of each: on Windows through the wide
    // names, whatever their length.
    return IdentityOf(a) == IdentityOf(b);
}

bool IsRegularFile(const char* path) {
    std::error_code error;
    return std::filesystem::is_regular_file(PathOf(path), error);
}

} // namespace zav
