// Small RAII helpers around C stdio byte streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace zav {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// std::fopen of a UTF-8 name (on Windows through the wide name).
std::FILE* OpenStream(const char* path, const char* mode);

inline UniqueFile OpenFile(const char* path, const char* mode) {
    return UniqueFile(OpenStream(path, mode));
}

// Closes the file and tells whether everything written to it reached the disk.
inline bool CloseFile(UniqueFile& file) {
    std::FILE* f = file.release();
    if (!f)
        return false;
    const bool hadError = std::ferror(f) != 0;
    return std::fclose(f) == 0 && !hadError;
}

// Moves to a byte offset that may lie beyond 2 GiB (where a long is 32 bits).
bool SeekFile(std::FILE* file, std::uint64_t offset);

enum class ReadWholeResult { Ok, NoMemory, ShortRead };

// A whole file held in one heap block.
struct FileBytes {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
};

// Reads an open file from its start to its end with one read into one block.
// An empty file, a size that cannot be found and a read that stops early all
// count as ShortRead; NoMemory when the block cannot be had.
ReadWholeResult ReadWholeFile(std::FILE* file, FileBytes& out);

// True when both paths name one existing file (letter case, links and the
// platform's own rules included).
bool IsSameFile(const char* a, const char* b);

// True when `path` names an existing plain file (not a folder).
bool IsRegularFile(const char* path);

} // namespace zav
