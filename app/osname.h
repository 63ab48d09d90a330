// The readable name of the running Windows that the About dialog shows, such
// as "Microsoft Windows 11  Professional 23H2  (Build 22631)". The text is
// composed from one record of figures that app/osname_win32.cpp gathers from
// the system, so that every rule can be tried out without Windows.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zav {

// Processor architectures (wProcessorArchitecture).
enum : unsigned {
    kArchX86 = 0,
    kArchItanium = 6,
    kArchX64 = 9,
};

// Product types of the extended version record.
enum : unsigned {
    kProductWorkstation = 1,
    kProductDomainController = 2,
    kProductServer = 3,
};

// Suite mask bits of the extended version record.
enum : unsigned {
    kSuiteEnterprise = 0x0002,
    kSuiteDatacenter = 0x0080,
    kSuitePersonal = 0x0200,
    kSuiteBlade = 0x0400,
};

// Registry texts are read into buffers of this size.
inline constexpr std::size_t kRegistryTextSize = 80;

struct OsNameInputs {
    // GetVersionExA: read at all, and read with the extended record (only
    // then productType and suiteMask hold anything).
    bool versionRead = false;
    bool extended = false;
    unsigned long platformId = 0;
    unsigned long major = 0;
    unsigned long minor = 0;
    unsigned long build = 0;
    std::string servicePack; // the record's service-pack text
    unsigned productType = 0;
    unsigned suiteMask = 0;
    // RtlGetVersion, when ntdll has it: the true major and minor version.
    bool trueVersionRead = false;
    unsigned long trueMajor = 0;
    unsigned long trueMinor = 0;
    unsigned architecture = kArchX86; // native when GetNativeSystemInfo exists
    // Values under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion; none
    // when the key does not open or the value does not read.
    std::optional<std::string> currentBuild;
    std::optional<std::string> editionId;
    std::optional<std::string> releaseId;
    std::optional<std::string> displayVersion;
    // "ProductType" under HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions.
    std::optional<std::string> productOptionsType;
    // The key ...\CurrentVersion\Hotfix\Q246009 exists (NT 4.0 Service Pack 6a).
    bool hotfixQ246009 = false;
    int serverR2 = 0;                  // GetSystemMetrics(SM_SERVERR2)
    unsigned long productInfoType = 0; // GetProductInfo(6, 0, 0, 0), 0 when missing
};

// Appends the name to text. Returns the length of the text, or 0 when the
// figures do not allow a name: no version record (text untouched), an unknown
// platform (nothing added), or a pre-Vista system without the extended record
// whose "ProductType" cannot be read (the text built so far stays).
std::size_t ComposeOsName(const OsNameInputs& in, std::string& text);

// The text that a registry read of size bytes into a buffer of
// kRegistryTextSize bytes gives: up to the first zero byte, never past the
// buffer, whether or not the value carries its terminator.
std::string RegistryText(const char* data, std::size_t size);

// Platform code: the figures of the running system.
OsNameInputs GatherOsNameInputs();
// Platform code: the name of the running system into buffer (size bytes, the
// text cut to fit). Returns what ComposeOsName returns; when nothing could be
// composed the buffer is left as it was.
std::size_t GetOsName(char* buffer, std::size_t size);

} // namespace zav
