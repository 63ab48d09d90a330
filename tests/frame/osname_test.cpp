// The name of the running Windows, composed from the figures the system reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/osname.h"

namespace {

using zav::OsNameInputs;

// An NT system as GetVersionExA reports it with the extended record.
OsNameInputs Nt(unsigned long major, unsigned long minor, unsigned long build, unsigned productType,
                const char* servicePack = "") {
    OsNameInputs in;
    in.versionRead = true;
    in.extended = true;
    in.platformId = 2;
    in.major = major;
    in.minor = minor;
    in.build = build;
    in.productType = productType;
    in.servicePack = servicePack;
    return in;
}

// Windows 8 and later as a program without a compatibility manifest sees
// them: GetVersionExA says 6.2.9200, RtlGetVersion and the registry tell the rest.
OsNameInputs Modern(unsigned long major, unsigned long minor, const char* build,
                    unsigned productType, const char* edition, const char* release) {
    OsNameInputs in = Nt(6, 2, 9200, productType);
    in.trueVersionRead = true;
    in.trueMajor = major;
    in.trueMinor = minor;
    in.architecture = zav::kArchX64;
    in.currentBuild = build;
    in.editionId = edition;
    if (release)
        in.releaseId = release;
    return in;
}

OsNameInputs With(OsNameInputs in, void (*change)(OsNameInputs&)) {
    change(in);
    return in;
}

OsNameInputs Win9x(unsigned long minor, const char* servicePack) {
    OsNameInputs in;
    in.versionRead = true;
    in.platformId = 1;
    in.major = 4;
    in.minor = minor;
    in.build = 0x040A08AE;
    in.servicePack = servicePack;
    return in;
}

struct Case {
    const char* what;
    OsNameInputs in;
    const char* text;
    bool complete = true; // false: the result is 0 although text was written
};

std::string Compose(const OsNameInputs& in, std::size_t& result) {
    std::string text;
    result = zav::ComposeOsName(in, text);
    return text;
}

void ExpectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::size_t result = 0;
        const std::string text = Compose(c.in, result);
        EXPECT_EQ(text, c.text) << c.what;
        EXPECT_EQ(result, c.complete ? text.size() : 0u) << c.what;
    }
}

TEST(OsName, WindowsTenAndElevenByBuildWithEditionAndRelease) {
    ExpectCases({
        {"Windows 10: two blanks before the edition and before the build",
         Modern(10, 0, "19045", 1, "Professional", "2009"),
         "Microsoft Windows 10  Professional 2009  (Build 19045)"},
        {"DisplayVersion stands in ReleaseId's place",
         With(Modern(10, 0, "19045", 1, "Professional", "2009"),
              [](OsNameInputs& in) { in.displayVersion = "22H2"; }),
         "Microsoft Windows 10  Professional 22H2  (Build 19045)"},
        {"an empty DisplayVersion leaves ReleaseId",
         With(Modern(10, 0, "19045", 1, "Core", "2009"),
              [](OsNameInputs& in) { in.displayVersion = ""; }),
         "Microsoft Windows 10  Core 2009  (Build 19045)"},
        {"Windows 11 from build 22000 on",
         With(Modern(10, 0, "22000", 1, "Professional", "2009"),
              [](OsNameInputs& in) { in.displayVersion = "21H2"; }),
         "Microsoft Windows 11  Professional 21H2  (Build 22000)"},
        {"build 21999 is still Windows 10", Modern(10, 0, "21999", 1, "Professional", nullptr),
         "Microsoft Windows 10  Professional  (Build 21999)"},
        {"without CurrentBuild the record's build names it",
         With(Nt(10, 0, 22631, 1), [](OsNameInputs& in) { in.editionId = "Enterprise"; }),
         "Microsoft Windows 11  Enterprise  (Build 22631)"},
        {"CurrentBuild is read as a decimal number up to the first non-digit",
         Modern(10, 0, "26100.1", 1, "", ""), "Microsoft Windows 11   (Build 26100)"},
        {"the build is cut to its low 16 bits", Modern(10, 0, "65537", 1, "Core", nullptr),
         "Microsoft Windows 11  Core  (Build 1)"},
    });
}

TEST(OsName, ServersOfVersionTenAreNamedByBuild) {
    ExpectCases({
        {"2016", Modern(10, 0, "14393", 3, "ServerStandard", "1607"),
         "Microsoft Windows Server 2016  ServerStandard 1607  (Build 14393)"},
        {"2019 domain controller", Modern(10, 0, "17763", 2, "ServerDatacenter", "1809"),
         "Microsoft Windows Server 2019  ServerDatacenter 1809  (Build 17763)"},
        {"2022", Modern(10, 0, "20348", 3, "ServerStandard", "2009"),
         "Microsoft Windows Server 2022  ServerStandard 2009  (Build 20348)"},
        {"2025", Modern(10, 0, "26100", 3, "ServerStandard", nullptr),
         "Microsoft Windows Server 2025  ServerStandard  (Build 26100)"},
        {"later than 2025", Modern(10, 0, "26200", 3, "ServerStandard", nullptr),
         "Microsoft Windows Server 2025  ServerStandard  (Build 26200)"},
        {"a build between the known ones", Modern(10, 0, "18362", 3, "ServerStandard", "1903"),
         "Microsoft Windows Server 10  ServerStandard 1903  (Build 18362)"},
        {"no product type without the extended record",
         With(Modern(10, 0, "19045", 1, "Professional", nullptr),
              [](OsNameInputs& in) {
                  in.extended = false;
                  in.productType = 0;
              }),
         "Microsoft Windows Server 10  Professional  (Build 19045)"},
    });
}

TEST(OsName, WindowsEightAndSevenNeedTheTrueVersion) {
    ExpectCases({
        {"8.1 through RtlGetVersion", Modern(6, 3, "9600", 1, "Professional", nullptr),
         "Microsoft Windows 8.1  Professional  (Build 9600)"},
        {"without RtlGetVersion 8.1 looks like 8",
         With(Modern(6, 3, "9600", 1, "Professional", nullptr),
              [](OsNameInputs& in) { in.trueVersionRead = false; }),
         "Microsoft Windows 8  Professional  (Build 9600)"},
        {"2012 R2", Modern(6, 3, "9600", 3, "ServerStandard", nullptr),
         "Microsoft Windows Server 2012 R2  ServerStandard  (Build 9600)"},
        {"7 with a service pack and no readable key", Nt(6, 1, 7601, 1, "Service Pack 1"),
         "Microsoft Windows 7  Service Pack 1 (Build 7601)"},
        {"2008 R2", Nt(6, 1, 7601, 3), "Microsoft Windows Server 2008 R2   (Build 7601)"},
        {"an unknown 6.x keeps its registry details",
         Modern(6, 4, "9841", 1, "Professional", nullptr), "Microsoft  Professional  (Build 9841)"},
    });
}

TEST(OsName, VistaAndServer2008TakeEditionAndArchitecture) {
    auto vista = [](unsigned productType, unsigned long edition, unsigned architecture) {
        OsNameInputs in = Nt(6, 0, 6002, productType, "Service Pack 2");
        in.productInfoType = edition;
        in.architecture = architecture;
        in.currentBuild = "9999"; // before 6.1 the registry is not asked
        in.editionId = "Ultimate";
        return in;
    };
    ExpectCases({
        {"Vista x64", vista(1, 1, zav::kArchX64),
         "Microsoft Windows Vista Ultimate Edition, 64-bit Service Pack 2 (Build 6002)"},
        {"Vista x86", vista(1, 3, zav::kArchX86),
         "Microsoft Windows Vista Home Premium Edition, 32-bit Service Pack 2 (Build 6002)"},
        {"2008 on Itanium", vista(3, 15, zav::kArchItanium),
         "Microsoft Windows Server 2008 Enterprise Edition for Itanium-based Systems Service "
         "Pack 2 (Build 6002)"},
        {"an edition type without text", vista(1, 16, zav::kArchX64),
         "Microsoft Windows Vista , 64-bit Service Pack 2 (Build 6002)"},
        {"the last edition type", vista(3, 42, zav::kArchX64),
         "Microsoft Windows Server 2008 Microsoft Hyper-V Server, 64-bit Service Pack 2 (Build "
         "6002)"},
        {"a type past the table", vista(3, 43, zav::kArchX86),
         "Microsoft Windows Server 2008 , 32-bit Service Pack 2 (Build 6002)"},
    });
}

TEST(OsName, XpAnd2003AndWindows2000) {
    auto server = [](unsigned long minor, unsigned suite, unsigned architecture) {
        OsNameInputs in = Nt(5, minor, minor == 2 ? 3790 : 2195, 3, "Service Pack 2");
        in.suiteMask = suite;
        in.architecture = architecture;
        return in;
    };
    ExpectCases({
        {"XP Home, build in the low 16 bits",
         With(Nt(5, 1, 0x0A280A28, 1, "Service Pack 3"),
              [](OsNameInputs& in) { in.suiteMask = zav::kSuitePersonal; }),
         "Microsoft Windows XP Home Edition  Service Pack 3 (Build 2600)"},
        {"XP Professional x64",
         With(Nt(5, 2, 3790, 1, "Service Pack 2"),
              [](OsNameInputs& in) { in.architecture = zav::kArchX64; }),
         "Microsoft Windows XP Professional x64 Edition  Service Pack 2 (Build 3790)"},
        {"2003 R2 datacenter x64",
         With(server(2, zav::kSuiteDatacenter, zav::kArchX64),
              [](OsNameInputs& in) { in.serverR2 = 1; }),
         "Microsoft Windows Server 2003 \"R2\" Datacenter x64 Edition  Service Pack 2 (Build "
         "3790)"},
        {"2003 enterprise on Itanium", server(2, zav::kSuiteEnterprise, zav::kArchItanium),
         "Microsoft Windows Server 2003, Enterprise Edition for Itanium-based Systems Service "
         "Pack 2 (Build 3790)"},
        {"2003 standard on Itanium", server(2, 0, zav::kArchItanium),
         "Microsoft Windows Server 2003,  Service Pack 2 (Build 3790)"},
        {"2003 web edition", server(2, zav::kSuiteBlade, zav::kArchX86),
         "Microsoft Windows Server 2003, Web Edition  Service Pack 2 (Build 3790)"},
        {"2003 standard x64", server(2, 0, zav::kArchX64),
         "Microsoft Windows Server 2003, Standard x64 Edition  Service Pack 2 (Build 3790)"},
        {"2000 datacenter", server(0, zav::kSuiteDatacenter | zav::kSuiteEnterprise, 0),
         "Microsoft Windows 2000 Datacenter Server  Service Pack 2 (Build 2195)"},
        {"2000 advanced server", server(0, zav::kSuiteEnterprise, 0),
         "Microsoft Windows 2000 Advanced Server  Service Pack 2 (Build 2195)"},
    });
}

TEST(OsName, NtFourServicePackSixAndTheProductTypeValue) {
    OsNameInputs sp6 = Nt(4, 0, 1381, 1, "Service Pack 6");
    OsNameInputs old = Nt(4, 0, 1381, 0, "Service Pack 5");
    old.extended = false;
    ExpectCases({
        {"with the hotfix key: 6a", With(sp6, [](OsNameInputs& in) { in.hotfixQ246009 = true; }),
         "Microsoft Windows NT Workstation 4.0 Service Pack 6a (Build 1381)"},
        {"without it the text follows with no blank", sp6,
         "Microsoft Windows NT Workstation 4.0 Service Pack 6 (Build 1381)"},
        {"the service pack is compared without regard to case",
         With(sp6,
              [](OsNameInputs& in) {
                  in.servicePack = "SERVICE PACK 6";
                  in.productType = 3;
                  in.suiteMask = zav::kSuiteEnterprise;
              }),
         "Microsoft Windows NT Server 4.0, Enterprise Edition SERVICE PACK 6 (Build 1381)"},
        {"no extended record: ProductType LANMANNT in any case",
         With(old, [](OsNameInputs& in) { in.productOptionsType = "lanmanNT"; }),
         "Microsoft Windows NT Server 4.0  Service Pack 5 (Build 1381)"},
        {"ProductType WINNT", With(old, [](OsNameInputs& in) { in.productOptionsType = "WINNT"; }),
         "Microsoft Windows NT Workstation 4.0  Service Pack 5 (Build 1381)"},
        {"an unknown ProductType adds only the version",
         With(old, [](OsNameInputs& in) { in.productOptionsType = "Other"; }),
         "Microsoft Windows NT 4.0  Service Pack 5 (Build 1381)"},
        {"an unreadable ProductType ends the text", old, "Microsoft Windows NT ", false},
    });
}

TEST(OsName, Windows9xAndWin32sHaveNoBuild) {
    ExpectCases({
        {"98 Second Edition", Win9x(10, " A "), "Microsoft Windows 98 SE "},
        {"98", Win9x(10, ""), "Microsoft Windows 98 "},
        {"95 OSR2", Win9x(0, " C"), "Microsoft Windows 95 OSR2 "},
        {"95 OSR2 (B)", Win9x(0, " B"), "Microsoft Windows 95 OSR2 "},
        {"Millennium", Win9x(90, ""), "Microsoft Windows Millennium Edition"},
        {"Win32s", With(Win9x(0, ""), [](OsNameInputs& in) { in.platformId = 0; }),
         "Microsoft Win32s"},
    });
}

TEST(OsName, NoVersionRecordOrAnUnknownPlatformGivesNothing) {
    std::string text = "before";
    OsNameInputs none = Nt(10, 0, 19045, 1);
    none.versionRead = false;
    EXPECT_EQ(zav::ComposeOsName(none, text), 0u);
    EXPECT_EQ(text, "before");
    OsNameInputs other = Nt(10, 0, 19045, 1);
    other.platformId = 3;
    EXPECT_EQ(zav::ComposeOsName(other, text), 0u);
    EXPECT_EQ(text, "before");
}

TEST(OsName, RegistryTextStopsAtTheTerminatorOrTheBufferEnd) {
    char full[zav::kRegistryTextSize];
    std::fill(std::begin(full), std::end(full), 'x');
    EXPECT_EQ(zav::RegistryText(full, sizeof full), std::string(sizeof full, 'x'));
    EXPECT_EQ(zav::RegistryText(full, 500), std::string(sizeof full, 'x'));
    const char withZero[] = {'2', '2', 'H', '2', '\0', 'j', 'u', 'n', 'k'};
    EXPECT_EQ(zav::RegistryText(withZero, sizeof withZero), "22H2");
    EXPECT_EQ(zav::RegistryText(withZero, 2), "22");
    EXPECT_EQ(zav::RegistryText(nullptr, 4), "");
}

} // namespace
