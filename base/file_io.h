// The few calls on files that the C and C++ libraries lack: a file created
// only where no file (nor a link) has that name yet, positional writes with
// the system's reason kept on failure, renaming over a file, and the identity
// of a file, to tell whether two names lead to one file before anything is
// removed or created. file_io_posix.cpp and file_io_win32.cpp implement them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/sys_error.h"

namespace zav {

// An open file of the system: a descriptor on POSIX, a HANDLE on Windows.
using NativeFile = std::intptr_t;
inline constexpr NativeFile kNoNativeFile = -1;

// Creates `path` for writing when no file, folder or link has that name
// (O_CREAT | O_EXCL on POSIX, CREATE_NEW on Windows: both hold on network
// shares too, so of several processes that try, exactly one gets it).
// kNoNativeFile with `error` set otherwise; FileExists(error) tells a name
// that is taken.
NativeFile CreateNewFile(const char* path, SystemError& error);
bool FileExists(const SystemError& error);

// Writes all `size` bytes at `offset` (a gap before it reads as zeros).
bool WriteFileAt(NativeFile file, std::uint64_t offset, const void* data, std::size_t size,
                 SystemError& error);
// Forces what was written to the disk.
bool SyncFile(NativeFile file, SystemError& error);
bool CloseFile(NativeFile file, SystemError& error);
// A stdio stream that writes to `file` and owns it from now on; null (and
// the file closed) when none can be made.
std::FILE* StreamOfFile(NativeFile file);
// Flushes the stream and forces its bytes to the disk.
bool SyncStream(std::FILE* stream, SystemError& error);

// Renames `from` to `to`, replacing a file of that name.
bool RenameFile(const char* from, const char* to, SystemError& error);
bool RemoveFile(const char* path, SystemError& error);

// Which file a name leads to (links followed): the same for every name of
// one file, different for different files, unknown when there is none.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool known = false;

    bool operator==(const FileIdentity& other) const {
        return known && other.known && device == other.device && index == other.index;
    }
};
FileIdentity IdentityOf(const char* path);
FileIdentity IdentityOf(NativeFile file);

// Looks up many files of one folder: through one handle on the folder where
// the system has one (POSIX), so that the folder's path is not walked again
// for each file.
class FolderLookup {
  public:
    // `folder`: empty or ending with a separator, as a capture's folder is.
    explicit FolderLookup(std::string folder);
    ~FolderLookup();
    FolderLookup(const FolderLookup&) = delete;
    FolderLookup& operator=(const FolderLookup&) = delete;

    // The size of the regular file `name` in the folder, links followed;
    // false when there is none.
    bool FileSize(const std::string& name, std::uint64_t& size) const;

  private:
    std::string folder_;
    NativeFile handle_ = kNoNativeFile;
};

// "process 4711 on HOST", for a file that tells who holds a name.
std::string ThisProcessText();

} // namespace zav
