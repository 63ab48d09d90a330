#include "record/record_io.h"

#include "base/sys_error.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace zav::record {

namespace {

// Waits for a lock on the whole file, however long it grows.
bool LockWhole(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    while (fcntl(fd, F_SETLKW, &lock) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

LockedFile::~LockedFile() {
    Close();
}

void LockedFile::Close() {
    // Closing the descriptor releases the lock.
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool LockedFile::Open(const std::string& path, Mode mode, std::string& error) {
    Close();
    const int flags = mode == Mode::Append ? O_RDWR | O_CREAT | O_APPEND : O_RDONLY;
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = WithReason("cannot open", LastErrnoError());
        return false;
    }
    handle_ = fd;
    if (!LockWhole(fd, mode == Mode::Append ? F_WRLCK : F_RDLCK) && mode == Mode::Append) {
        error = WithReason("cannot lock", LastErrnoError());
        Close();
        return false;
    }
    return true;
}

bool LockedFile::Size(std::uint64_t& size) {
    struct stat status {};
    if (handle_ < 0 || fstat(static_cast<int>(handle_), &status) != 0)
        return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool LockedFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = pread(static_cast<int>(handle_), p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool LockedFile::Append(const void* data, std::size_t size, std::string& error) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(handle_), p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = WithReason("cannot write", LastErrnoError());
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    if (fsync(static_cast<int>(handle_)) != 0) {
        error = WithReason("cannot force to disk", LastErrnoError());
        return false;
    }
    return true;
}

std::FILE* CreateNewFile(const std::string& path, bool ownerOnly) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          ownerOnly ? 0600 : 0666);
    if (fd < 0)
        return nullptr;
    // The mode of open() passes through the umask, which can only take
    // permissions away; fchmod makes sure nobody else got any.
    if (ownerOnly && fchmod(fd, 0600) != 0) {
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file)
        ::close(fd);
    return file;
}

bool SyncFile(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

std::string ComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string UserName() {
    const uid_t uid = geteuid();
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name)
        return found->pw_name;
    // A user the password database does not know (a container) by number.
    return "uid " + std::to_string(uid);
}

} // namespace zav::record
