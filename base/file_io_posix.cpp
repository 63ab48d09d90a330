#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "base/file_io.h"

namespace zav {

NativeFile CreateNewFile(const char* path, SystemError& error) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        error = LastErrnoError();
    return fd;
}

bool FileExists(const SystemError& error) {
    return error.code == EEXIST;
}

bool WriteFileAt(NativeFile file, std::uint64_t offset, const void* data, std::size_t size,
                 SystemError& error) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written =
            pwrite(static_cast<int>(file), bytes, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A write that takes nothing without saying why: the disk is full.
            error = written < 0 ? LastErrnoError() : ErrnoError(ENOSPC);
            return false;
        }
        bytes += written;
        offset += static_cast<std::uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool SyncFile(NativeFile file, SystemError& error) {
    if (fdatasync(static_cast<int>(file)) == 0)
        return true;
    error = LastErrnoError();
    return false;
}

bool CloseFile(NativeFile file, SystemError& error) {
    if (close(static_cast<int>(file)) == 0)
        return true;
    error = LastErrnoError();
    return false;
}

std::FILE* StreamOfFile(NativeFile file) {
    std::FILE* stream = fdopen(static_cast<int>(file), "wb");
    if (!stream)
        close(static_cast<int>(file));
    return stream;
}

bool SyncStream(std::FILE* stream, SystemError& error) {
    if (std::fflush(stream) != 0 || fdatasync(fileno(stream)) != 0) {
        error = LastErrnoError();
        return false;
    }
    return true;
}

bool RenameFile(const char* from, const char* to, SystemError& error) {
    if (std::rename(from, to) == 0)
        return true;
    error = LastErrnoError();
    return false;
}

bool RemoveFile(const char* path, SystemError& error) {
    if (unlink(path) == 0)
        return true;
    error = LastErrnoError();
    return false;
}

FileIdentity IdentityOf(const char* path) {
    struct stat status {};
    if (stat(path, &status) != 0)
        return {};
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            true};
}

FileIdentity IdentityOf(NativeFile file) {
    struct stat status {};
    if (fstat(static_cast<int>(file), &status) != 0)
        return {};
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            true};
}

FolderLookup::FolderLookup(std::string folder) : folder_(std::move(folder)) {
    const int fd =
        open(folder_.empty() ? "." : folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    handle_ = fd < 0 ? kNoNativeFile : fd;
}

FolderLookup::~FolderLookup() {
    if (handle_ != kNoNativeFile)
        close(static_cast<int>(handle_));
}

bool FolderLookup::FileSize(const std::string& name, std::uint64_t& size) const {
    struct stat status {};
    const int found = handle_ != kNoNativeFile
                          ? fstatat(static_cast<int>(handle_), name.c_str(), &status, 0)
                          : stat((folder_ + name).c_str(), &status);
    if (found != 0 || !S_ISREG(status.st_mode))
        return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

std::string ThisProcessText() {
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0)
        host[0] = '\0';
    return "process " + std::to_string(getpid()) + (host[0] ? std::string(" on ") + host : "");
}

} // namespace zav
