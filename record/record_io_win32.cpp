#include "record/record_io.h"

#include "base/sys_error.h"
#include "base/utf8_names.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <memory>

namespace zav::record {

namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};

// "D:P(A;;FA;;;<the user's SID>)": full access for the user the program runs
// as, nothing inherited, nobody else.
bool OwnerOnlyDescriptor(std::unique_ptr<void, LocalFreer>& descriptor) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<std::uint8_t[]> info(new std::uint8_t[size ? size : 1]);
    const bool got = size && GetTokenInformation(token, TokenUser, info.get(), size, &size);
    CloseHandle(token);
    char* sid = nullptr;
    if (!got || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(info.get())->User.Sid, &sid))
        return false;
    const std::string sddl = std::string("D:P(A;;FA;;;") + sid + ")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &made,
                                                              nullptr))
        return false;
    descriptor.reset(made);
    return true;
}

} // namespace

LockedFile::~LockedFile() {
    Close();
}

void LockedFile::Close() {
    if (handle_ == -1)
        return;
    OVERLAPPED whole = At(0);
    UnlockFileEx(AsHandle(handle_), 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

bool LockedFile::Open(const std::string& path, Mode mode, std::string& error) {
    Close();
    const bool append = mode == Mode::Append;
    HANDLE file = CreateFileW(WideFileName(path).c_str(),
                              append ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              append ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = WithReason("cannot open", LastWin32Error());
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    // Bytes beyond the end are locked too, so that the lock covers what is
    // appended under it.
    OVERLAPPED whole = At(0);
    if (!LockFileEx(file, append ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, MAXDWORD, MAXDWORD, &whole) &&
        append) {
        error = WithReason("cannot lock", LastWin32Error());
        CloseHandle(file);
        handle_ = -1;
        return false;
    }
    return true;
}

bool LockedFile::Size(std::uint64_t& size) {
    LARGE_INTEGER value{};
    if (handle_ == -1 || !GetFileSizeEx(AsHandle(handle_), &value))
        return false;
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool LockedFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        OVERLAPPED at = At(offset);
        const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), p, want, &got, &at) || got == 0)
            return false;
        p += got;
        size -= got;
        offset += got;
    }
    return true;
}

bool LockedFile::Append(const void* data, std::size_t size, std::string& error) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_END)) {
        error = WithReason("cannot find the end", LastWin32Error());
        return false;
    }
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD wrote = 0;
        if (!WriteFile(AsHandle(handle_), p, want, &wrote, nullptr) || wrote == 0) {
            error = WithReason("cannot write", LastWin32Error());
            return false;
        }
        p += wrote;
        size -= wrote;
    }
    if (!FlushFileBuffers(AsHandle(handle_))) {
        error = WithReason("cannot force to disk", LastWin32Error());
        return false;
    }
    return true;
}

std::FILE* CreateNewFile(const std::string& path, bool ownerOnly) {
    std::unique_ptr<void, LocalFreer> descriptor;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    if (ownerOnly) {
        if (!OwnerOnlyDescriptor(descriptor))
            return nullptr;
        attributes.lpSecurityDescriptor = descriptor.get();
    }
    HANDLE file =
        CreateFileW(WideFileName(path).c_str(), GENERIC_WRITE, 0, ownerOnly ? &attributes : nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (!stream)
        _close(fd);
    return stream;
}

bool SyncFile(std::FILE* file) {
    return std::fflush(file) == 0 &&
           FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

std::string UserName() {
    char name[257] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

} // namespace zav::record
