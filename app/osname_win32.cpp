// Gathers the figures that name the running Windows (app/osname.h).
#include "app/osname.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

namespace zav {

namespace {

constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kProductOptionsKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr const char* kHotfixKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";

// A text value of an open key, read into an emptied buffer of
// kRegistryTextSize bytes; none when it does not read or does not fit.
std::optional<std::string> ReadText(HKEY key, const char* name) {
    char buf[kRegistryTextSize];
    std::memset(buf, 0, sizeof buf);
    DWORD size = sizeof buf;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) !=
            ERROR_SUCCESS ||
        size > sizeof buf)
        return std::nullopt;
    return RegistryText(buf, size);
}

HKEY OpenMachineKey(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

template <class F> F Export(const char* module, const char* name) {
    HMODULE handle = GetModuleHandleA(module);
    if (!handle)
        return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

void ReadVersionRecord(OsNameInputs& in) {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996) // deprecated, but it reports the service pack and suite
#endif
    in.extended = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != FALSE;
    if (!in.extended) {
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)))
            return;
    }
#ifdef _MSC_VER
#pragma warning(pop)
#endif
    in.versionRead = true;
    in.platformId = info.dwPlatformId;
    in.major = info.dwMajorVersion;
    in.minor = info.dwMinorVersion;
    in.build = info.dwBuildNumber;
    in.servicePack.assign(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
    if (in.extended) {
        in.productType = info.wProductType;
        in.suiteMask = info.wSuiteMask;
    }
}

} // namespace

OsNameInputs GatherOsNameInputs() {
    OsNameInputs in;
    ReadVersionRecord(in);
    if (!in.versionRead)
        return in;

    // The version record names 6.2 to a program that does not declare later
    // systems; ntdll tells the truth.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (auto rtlGetVersion = Export<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion")) {
        OSVERSIONINFOW info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        if (rtlGetVersion(&info) == 0) {
            in.trueVersionRead = true;
            in.trueMajor = info.dwMajorVersion;
            in.trueMinor = info.dwMinorVersion;
        }
    }

    SYSTEM_INFO si;
    std::memset(&si, 0, sizeof si);
    using NativeInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    if (auto native = Export<NativeInfoFn>("kernel32.dll", "GetNativeSystemInfo"))
        native(&si);
    else
        GetSystemInfo(&si);
    in.architecture = si.wProcessorArchitecture;

    if (HKEY key = OpenMachineKey(kCurrentVersionKey)) {
        in.currentBuild = ReadText(key, "CurrentBuild");
        in.editionId = ReadText(key, "EditionID");
        in.releaseId = ReadText(key, "ReleaseId");
        in.displayVersion = ReadText(key, "DisplayVersion");
        RegCloseKey(key);
    }
    if (HKEY key = OpenMachineKey(kProductOptionsKey)) {
        in.productOptionsType = ReadText(key, "ProductType");
        RegCloseKey(key);
    }
    if (HKEY key = OpenMachineKey(kHotfixKey)) {
        in.hotfixQ246009 = true;
        RegCloseKey(key);
    }
    in.serverR2 = GetSystemMetrics(SM_SERVERR2);

    using ProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
    if (auto productInfo = Export<ProductInfoFn>("kernel32.dll", "GetProductInfo")) {
        DWORD type = 0;
        if (productInfo(6, 0, 0, 0, &type))
            in.productInfoType = type;
    }
    return in;
}

std::size_t GetOsName(char* buffer, std::size_t size) {
    if (!buffer || size == 0)
        return 0;
    std::string text;
    const std::size_t length = ComposeOsName(GatherOsNameInputs(), text);
    if (text.empty())
        return length; // nothing composed: the buffer stays as it was
    const std::size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return length < size ? length : n;
}

} // namespace zav
