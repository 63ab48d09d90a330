#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <utility>

#include "base/file_io.h"
#include "base/utf8_names.h"

namespace zav {

namespace {

HANDLE AsHandle(NativeFile file) {
    return reinterpret_cast<HANDLE>(file);
}

FileIdentity IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return {};
    return {info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, true};
}

} // namespace

NativeFile CreateNewFile(const char* path, SystemError& error) {
    // Others may read it (the PDF reads back a page bitmap) and rename or
    // remove it, as on POSIX.
    const HANDLE handle = CreateFileW(WideFileName(path).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastWin32Error();
        return kNoNativeFile;
    }
    return reinterpret_cast<NativeFile>(handle);
}

bool FileExists(const SystemError& error) {
    return error.code == ERROR_FILE_EXISTS || error.code == ERROR_ALREADY_EXISTS;
}

bool WriteFileAt(NativeFile file, std::uint64_t offset, const void* data, std::size_t size,
                 SystemError& error) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        // A synchronous handle writes at the offset the OVERLAPPED names.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(AsHandle(file), bytes, chunk, &written, &at)) {
            error = LastWin32Error();
            return false;
        }
        if (written == 0) {
            error = Win32Error(ERROR_DISK_FULL);
            return false;
        }
        bytes += written;
        offset += written;
        size -= written;
    }
    return true;
}

bool SyncFile(NativeFile file, SystemError& error) {
    if (FlushFileBuffers(AsHandle(file)))
        return true;
    error = LastWin32Error();
    return false;
}

bool CloseFile(NativeFile file, SystemError& error) {
    if (::CloseHandle(AsHandle(file)))
        return true;
    error = LastWin32Error();
    return false;
}

std::FILE* StreamOfFile(NativeFile file) {
    const int fd = _open_osfhandle(file, _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(AsHandle(file));
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (!stream)
        _close(fd);
    return stream;
}

bool SyncStream(std::FILE* stream, SystemError& error) {
    if (std::fflush(stream) != 0) {
        error = LastErrnoError();
        return false;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
        error = LastWin32Error();
        return false;
    }
    return true;
}

bool RenameFile(const char* from, const char* to, SystemError& error) {
    if (MoveFileExW(WideFileName(from).c_str(), WideFileName(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING))
        return true;
    error = LastWin32Error();
    return false;
}

bool RemoveFile(const char* path, SystemError& error) {
    if (DeleteFileW(WideFileName(path).c_str()))
        return true;
    error = LastWin32Error();
    return false;
}

FileIdentity IdentityOf(const char* path) {
    const HANDLE handle = CreateFileW(WideFileName(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    const FileIdentity identity = IdentityOfHandle(handle);
    ::CloseHandle(handle);
    return identity;
}

FileIdentity IdentityOf(NativeFile file) {
    return IdentityOfHandle(AsHandle(file));
}

// Windows resolves each name by the folder's path: no handle is kept.
FolderLookup::FolderLookup(std::string folder) : folder_(std::move(folder)) {}

FolderLookup::~FolderLookup() = default;

bool FolderLookup::FileSize(const std::string& name, std::uint64_t& size) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(WideFileName(folder_ + name).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

std::string ThisProcessText() {
    char host[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof host;
    if (!GetComputerNameA(host, &size))
        host[0] = '\0';
    return "process " + std::to_string(GetCurrentProcessId()) +
           (host[0] ? std::string(" on ") + host : "");
}

} // namespace zav
