#include "app/osname.h"

#include <cstring>

#include "host/ascii.h"

namespace zav {

namespace {

// Edition texts of Windows Vista and Server 2008 by GetProductInfo type;
// nullptr where a type has none.
constexpr const char* kVistaEditions[] = {
    nullptr,
    "Ultimate Edition",
    "Home Basic Edition",
    "Home Premium Edition",
    "Enterprise Edition",
    "Home Basic N Edition",
    "Business Edition",
    "Standard Edition",
    "Datacenter Edition",
    "Small Business Server",
    "Enterprise Edition",
    "Starter Edition",
    "Datacenter Edition (core installation)",
    "Standard Edition (core installation)",
    "Enterprise Edition (core installation)",
    "Enterprise Edition for Itanium-based Systems",
    nullptr,
    "Web Server Edition",
    "Cluster Server Edition",
    nullptr,
    "Storage Server Express Edition",
    "Storage Server Standard Edition",
    "Storage Server Workgroup Edition",
    "Storage Server Enterprise Edition",
    "Windows Server 2008 for Windows Essential Server Solutions",
    "Small Business Server Premium Edition",
    "Home Premium N Edition",
    "Enterprise N Edition",
    "Ultimate N Edition",
    "Web Server Edition (core installation)",
    "Windows Essential Business Server Management Server",
    "Windows Essential Business Server Security Server",
    "Windows Essential Business Server Messaging Server",
    nullptr,
    nullptr,
    "Windows Server 2008 without Hyper-V for Windows Essential Server Solutions",
    "Standard without Hyper-V Edition",
    "Datacenter without Hyper-V Edition",
    "Enterprise without Hyper-V Edition",
    "Datacenter without Hyper-V Edition (core installation)",
    "Standard without Hyper-V Edition (core installation)",
    "Enterprise without Hyper-V Edition (core installation)",
    "Microsoft Hyper-V Server",
};

bool HasText(const std::optional<std::string>& value) {
    return value && !value->empty();
}

// The decimal value at the start of a text, as atoi reads it (0 without digits).
unsigned long DecimalValue(std::string_view text) {
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value;
}

// Windows 10 and 11 and the servers since 2016 all report 10.0: the build
// tells them apart.
const char* Version10Name(bool workstation, unsigned long build) {
    if (workstation)
        return build >= 22000 ? "Windows 11 " : "Windows 10 ";
    if (build >= 26100)
        return "Windows Server 2025 ";
    switch (build) {
    case 14393:
        return "Windows Server 2016 ";
    case 17763:
        return "Windows Server 2019 ";
    case 20348:
        return "Windows Server 2022 ";
    default:
        return "Windows Server 10 ";
    }
}

const char* Version6Name(unsigned long minor, bool workstation) {
    switch (minor) {
    case 3:
        return workstation ? "Windows 8.1 " : "Windows Server 2012 R2 ";
    case 2:
        return workstation ? "Windows 8 " : "Windows Server 2012 ";
    case 1:
        return workstation ? "Windows 7 " : "Windows Server 2008 R2 ";
    default:
        return nullptr;
    }
}

const char* ServerEdition(const OsNameInputs& in, unsigned long major, unsigned long minor) {
    const bool datacenter = (in.suiteMask & kSuiteDatacenter) != 0;
    const bool enterprise = (in.suiteMask & kSuiteEnterprise) != 0;
    if (major == 5 && minor == 2) {
        if (in.architecture == kArchItanium) {
            if (datacenter)
                return "Datacenter Edition for Itanium-based Systems";
            return enterprise ? "Enterprise Edition for Itanium-based Systems" : nullptr;
        }
        if (in.architecture == kArchX64) {
            if (datacenter)
                return "Datacenter x64 Edition ";
            return enterprise ? "Enterprise x64 Edition " : "Standard x64 Edition ";
        }
        if (datacenter)
            return "Datacenter Edition ";
        if (enterprise)
            return "Enterprise Edition ";
        return (in.suiteMask & kSuiteBlade) ? "Web Edition " : "Standard Edition ";
    }
    if (major == 5 && minor == 0) {
        if (datacenter)
            return "Datacenter Server ";
        return enterprise ? "Advanced Server " : "Server ";
    }
    return enterprise ? "Server 4.0, Enterprise Edition " : "Server 4.0 ";
}

// Step for systems before Vista: the edition. False when the text must end
// here (no extended record and no readable "ProductType").
bool AppendOldEdition(const OsNameInputs& in, unsigned long major, unsigned long minor,
                      std::string& text) {
    if (!in.extended) {
        if (!in.productOptionsType)
            return false;
        const std::string& type = *in.productOptionsType;
        if (EqualIgnoringCase(type, "WINNT"))
            text += "Workstation ";
        else if (EqualIgnoringCase(type, "LANMANNT"))
            text += "Server ";
        else if (EqualIgnoringCase(type, "SERVERNT"))
            text += "Advanced Server ";
        text += std::to_string(major) + "." + std::to_string(minor) + " ";
        return true;
    }
    if (in.productType == kProductWorkstation && in.architecture != kArchX64) {
        if (major == 4)
            text += "Workstation 4.0 ";
        else
            text += (in.suiteMask & kSuitePersonal) ? "Home Edition " : "Professional ";
    } else if (in.productType == kProductDomainController || in.productType == kProductServer) {
        if (const char* edition = ServerEdition(in, major, minor))
            text += edition;
    }
    return true;
}

std::size_t ComposeNt(const OsNameInputs& in, std::string& text) {
    const unsigned long major = in.trueVersionRead ? in.trueMajor : in.major;
    const unsigned long minor = in.trueVersionRead ? in.trueMinor : in.minor;
    const bool workstation = in.productType == kProductWorkstation;
    const bool afterVista = major > 6 || (major == 6 && minor != 0);
    unsigned long build = in.build;
    if (afterVista && HasText(in.currentBuild))
        build = DecimalValue(*in.currentBuild);

    text += "Microsoft ";
    if (major == 10 && minor == 0) {
        text += Version10Name(workstation, build);
    } else if (major == 6) {
        if (const char* name = Version6Name(minor, workstation))
            text += name;
    }

    if (afterVista) {
        if (HasText(in.editionId))
            text += " " + *in.editionId;
        // "ReleaseId" stands still at "2009" since 2020; "DisplayVersion"
        // ("23H2") names the release where the system has it.
        if (HasText(in.displayVersion))
            text += " " + *in.displayVersion;
        else if (HasText(in.releaseId))
            text += " " + *in.releaseId;
    }

    if (major == 6 && minor == 0) {
        text += workstation ? "Windows Vista " : "Windows Server 2008 ";
        if (in.productInfoType < std::size(kVistaEditions) && kVistaEditions[in.productInfoType])
            text += kVistaEditions[in.productInfoType];
        if (in.architecture == kArchX64)
            text += ", 64-bit";
        else if (in.architecture == kArchX86)
            text += ", 32-bit";
    }

    if (major == 5) {
        if (minor == 2) {
            if (in.serverR2 != 0)
                text += "Windows Server 2003 \"R2\" ";
            else if (workstation && in.architecture == kArchX64)
                text += "Windows XP Professional x64 Edition ";
            else
                text += "Windows Server 2003, ";
        } else if (minor == 1) {
            text += "Windows XP ";
        } else if (minor == 0) {
            text += "Windows 2000 ";
        }
    }
    if (major <= 4)
        text += "Windows NT ";

    if (major < 6 && !AppendOldEdition(in, major, minor, text))
        return 0;

    const std::string buildText = " (Build " + std::to_string(build & 0xFFFF) + ")";
    if (major == 4 && EqualIgnoringCase(in.servicePack, "Service Pack 6")) {
        if (in.hotfixQ246009)
            text += "Service Pack 6a" + buildText;
        else
            text += in.servicePack + buildText;
    } else {
        text += " " + in.servicePack + buildText;
    }
    return text.size();
}

std::size_t Compose9x(const OsNameInputs& in, std::string& text) {
    const char second = in.servicePack.size() > 1 ? in.servicePack[1] : '\0';
    if (in.major == 4 && in.minor == 0) {
        text += "Microsoft Windows 95 ";
        if (second == 'C' || second == 'B')
            text += "OSR2 ";
    }
    if (in.major != 4)
        return text.size();
    if (in.minor == 10) {
        text += "Microsoft Windows 98 ";
        if (second == 'A')
            text += "SE ";
    } else if (in.minor == 90) {
        text += "Microsoft Windows Millennium Edition";
    }
    return text.size();
}

} // namespace

std::size_t ComposeOsName(const OsNameInputs& in, std::string& text) {
    if (!in.versionRead)
        return 0;
    switch (in.platformId) {
    case 0:
        text += "Microsoft Win32s";
        return text.size();
    case 1:
        return Compose9x(in, text);
    case 2:
        return ComposeNt(in, text);
    default:
        return 0;
    }
}

std::string RegistryText(const char* data, std::size_t size) {
    if (!data)
        return {};
    const std::size_t limit = size < kRegistryTextSize ? size : kRegistryTextSize;
    const void* end = std::memchr(data, '\0', limit);
    return std::string(data, end ? static_cast<const char*>(end) - data : limit);
}

} // namespace zav
