// The few file and system calls the records need that the C++ library lacks:
// a file locked against every other writer (other processes and other
// computers on a network share), files created only when new, forcing a
// file's bytes to the disk, and the computer's and user's names. The
// platform files record_io_posix.cpp and record_io_win32.cpp implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zav::record {

// A file held under a lock on all of its bytes, present and to come, from
// Open to the end of the object: fcntl(F_SETLKW) on POSIX, LockFileEx on
// Windows. Such locks hold between processes, also through NFS and SMB. POSIX
// locks belong to the process, not to one descriptor, so the threads of one
// process must also exclude one another (the audit log does).
class LockedFile {
  public:
    enum class Mode {
        Append, // read and write, created when missing, locked exclusively
        Read,   // read only, locked shared; read without a lock where the
                // file system takes none (read-only media)
    };
    LockedFile() = default;
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens `path` and waits for its lock. False with `error` set when the
    // file cannot be opened or (Append) locked.
    bool Open(const std::string& path, Mode mode, std::string& error);
    bool Size(std::uint64_t& size);
    // Reads exactly `size` bytes at `offset`.
    bool ReadAt(std::uint64_t offset, void* data, std::size_t size);
    // Writes the bytes at the end of the file, then forces them to the disk.
    bool Append(const void* data, std::size_t size, std::string& error);

  private:
    void Close();
    std::intptr_t handle_ = -1;
};

// Creates `path` only when no file of that name exists (nor a link), for
// writing; ownerOnly makes it readable and writable by its owner alone.
// nullptr when the name is taken or the file cannot be made.
std::FILE* CreateNewFile(const std::string& path, bool ownerOnly);

// Flushes the stream and forces its bytes to the disk.
bool SyncFile(std::FILE* file);

// The computer's name and the name of the user the program runs as; empty
// when the system does not tell.
std::string ComputerName();
std::string UserName();

} // namespace zav::record
