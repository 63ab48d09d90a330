// The resources and exports of the built RUDIRAVU.exe, read back from the file.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "host/description.h"
#include "host/vokbind.h"
#include "maker.h"
#include "resource.h"
#include "resources/descriptions.h"
#include "wine_path.h"

namespace {

const std::string kExe = WindowsPath(ZAV_RUDIRAVU_EXE);

class Resources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExA(kExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << kExe; }

    // The bytes of a resource; empty when it is missing.
    static std::vector<unsigned char> Bytes(LPCSTR name, LPCSTR type) {
        HRSRC found = FindResourceA(module_, name, type);
        if (!found)
            return {};
        HGLOBAL loaded = LoadResource(module_, found);
        auto* data = static_cast<const unsigned char*>(LockResource(loaded));
        DWORD size = SizeofResource(module_, found);
        return data ? std::vector<unsigned char>(data, data + size) : std::vector<unsigned char>{};
    }

    static HMODULE module_;
};

HMODULE Resources::module_ = nullptr;

// ---- dialog templates (DLGTEMPLATE) ---------------------------------------

struct Control {
    unsigned id = 0;
    DWORD style = 0;
    std::string windowClass; // "#128" style for the predefined classes
    std::string text;
};

struct Template {
    DWORD style = 0;
    int x = -1, y = -1, cx = 0, cy = 0;
    std::string menu, windowClass, title, font;
    int pointSize = 0;
    std::vector<Control> controls;
};

struct Reader {
    const std::vector<unsigned char>& bytes;
    std::size_t pos = 0;
    bool ok = true;

    unsigned Word() {
        if (pos + 2 > bytes.size()) {
            ok = false;
            return 0;
        }
        unsigned v = bytes[pos] | bytes[pos + 1] << 8;
        pos += 2;
        return v;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    std::string Text() { // UTF-16 text of ASCII characters
        std::string s;
        while (ok) {
            unsigned c = Word();
            if (c == 0)
                break;
            s += static_cast<char>(c);
        }
        return s;
    }
    std::string TextOrOrdinal() {
        if (pos + 2 <= bytes.size() && bytes[pos] == 0xFF && bytes[pos + 1] == 0xFF) {
            pos += 2;
            std::string ordinal(1, '#');
            ordinal += std::to_string(Word());
            return ordinal;
        }
        return Text();
    }
    void AlignDword() { pos = (pos + 3) & ~std::size_t{3}; }
};

bool ParseTemplate(const std::vector<unsigned char>& bytes, Template& t) {
    Reader r{bytes};
    t.style = r.Dword();
    r.Dword(); // extended style
    unsigned count = r.Word();
    t.x = static_cast<short>(r.Word());
    t.y = static_cast<short>(r.Word());
    t.cx = static_cast<short>(r.Word());
    t.cy = static_cast<short>(r.Word());
    t.menu = r.TextOrOrdinal();
    t.windowClass = r.TextOrOrdinal();
    t.title = r.Text();
    if (t.style & DS_SETFONT) {
        t.pointSize = static_cast<int>(r.Word());
        t.font = r.Text();
    }
    for (unsigned i = 0; i < count && r.ok; ++i) {
        r.AlignDword();
        Control c;
        c.style = r.Dword();
        r.Dword();  // extended style
        r.pos += 8; // x, y, cx, cy
        c.id = r.Word();
        c.windowClass = r.TextOrOrdinal();
        c.text = r.TextOrOrdinal();
        r.pos += r.Word(); // creation data
        t.controls.push_back(c);
    }
    return r.ok && r.pos <= bytes.size();
}

struct DialogExpectation {
    const char* name;
    const char* title;
    int cx, cy;
    const char* menu;
    std::vector<unsigned> ids; // template order, which is the tab order
    std::size_t descriptionSize;
    std::size_t descriptionItems;
};

const DialogExpectation kDialogs[] = {
    {"VOVEZERA",
     "ZAV Print Utility",
     348,
     168,
     "#102",
     {2, 5000, 1001, 1003, 5001, 1002, 1, 1011, 1007, 1012, 65535, 1010, 1013, 1015},
     524,
     11},
    {"CABLENOTFOUND", "ZAV Print Utility", 272, 212, "", {1, 1002, 1001, 1020, 4}, 178, 5},
    {"PORTLIST", "Ports", 165, 136, "", {1, 2, 1021, 1001}, 116, 4},
    {"ABOUT",
     "About ZAV Print Utility",
     196,
     100,
     "",
     {2, 1001, 1002, 1003, 1004, 65535, 1022, 1025},
     232,
     7},
};

const Control* FindControl(const Template& t, unsigned id) {
    for (const Control& c : t.controls) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

TEST_F(Resources, DialogTemplatesAndDescriptionsMatch) {
    for (const DialogExpectation& want : kDialogs) {
        SCOPED_TRACE(want.name);
        Template t;
        ASSERT_TRUE(ParseTemplate(Bytes(want.name, RT_DIALOG), t));
        const DWORD styles = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
        EXPECT_EQ(t.style & styles, styles);
        EXPECT_EQ(t.x, 0);
        EXPECT_EQ(t.y, 0);
        EXPECT_EQ(t.cx, want.cx);
        EXPECT_EQ(t.cy, want.cy);
        EXPECT_EQ(t.title, want.title);
        EXPECT_EQ(t.menu, want.menu);
        // Window classes are found without regard to letter case; GNU windres
        // stores CLASS names in upper case, Microsoft's rc as written.
        EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, t.windowClass.c_str(), -1,
                                 "vokDialog", -1),
                  CSTR_EQUAL)
            << t.windowClass;
        EXPECT_EQ(t.pointSize, 8);
        EXPECT_EQ(t.font, "MS Sans Serif");
        std::vector<unsigned> ids;
        for (const Control& c : t.controls)
            ids.push_back(c.id);
        EXPECT_EQ(ids, want.ids);

        // The description is the generated record, parses to exactly its size,
        // and names only controls of the template.
        std::vector<unsigned char> record =
            Bytes(want.name, MAKEINTRESOURCEA(RT_DIALOG_DESCRIPTION));
        EXPECT_EQ(record.size(), want.descriptionSize);
        const zav::DialogDescription* source = zav::FindDialogDescription(want.name);
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(record, zav::SerializeDialogDescription(*source));
        zav::DialogDescription parsed;
        ASSERT_TRUE(zav::ParseDialogDescription(record.data(), record.size(), parsed));
        EXPECT_EQ(parsed.items.size(), want.descriptionItems);
        for (const zav::DescriptionItem& item : parsed.items)
            EXPECT_NE(FindControl(t, item.controlId), nullptr) << "control " << item.controlId;
    }
}

TEST_F(Resources, ControlsCarryTheirStyles) {
    Template main;
    ASSERT_TRUE(ParseTemplate(Bytes("VOVEZERA", RT_DIALOG), main));
    EXPECT_FALSE(FindControl(main, 1010)->style & WS_VISIBLE); // About: only through the menu
    EXPECT_EQ(FindControl(main, 1)->style & 0xF, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(FindControl(main, 1007)->style & 0xF, static_cast<DWORD>(BS_AUTOCHECKBOX));
    EXPECT_TRUE(FindControl(main, 1003)->style & ES_READONLY);
    EXPECT_TRUE(FindControl(main, 1001)->style & ES_AUTOHSCROLL);
    EXPECT_EQ(FindControl(main, 1015)->text, "&View");

    Template ports;
    ASSERT_TRUE(ParseTemplate(Bytes("PORTLIST", RT_DIALOG), ports));
    const DWORD list = LBS_NOTIFY | LBS_HASSTRINGS | WS_VSCROLL;
    EXPECT_EQ(FindControl(ports, 1021)->style & list, list);

    Template about;
    ASSERT_TRUE(ParseTemplate(Bytes("ABOUT", RT_DIALOG), about));
    const Control* icon = FindControl(about, 65535);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(icon->text, "#101");
    EXPECT_EQ(FindControl(about, 1002)->text, ZAV_COPYRIGHT_LINE);
    const DWORD winVer = ES_MULTILINE | ES_READONLY | WS_VSCROLL;
    EXPECT_EQ(FindControl(about, 1022)->style & winVer, winVer);
}

// ---- menu, accelerators, strings, icon -------------------------------------

std::string MenuEntry(HMENU menu, int index, UINT* id) {
    char text[64] = "";
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(index), TRUE, &info))
        return "<none>";
    *id = info.wID;
    return (info.fType & MFT_SEPARATOR) ? "-" : text;
}

TEST_F(Resources, MenuEntriesActLikeTheMainDialogButtons) {
    HMENU menu = LoadMenuA(module_, MAKEINTRESOURCEA(IDR_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    struct Entry {
        int popup, index;
        const char* text;
        UINT id;
    } const entries[] = {
        {0, 0, "St&art", 1011},     {0, 1, "St&op", 1012},     {0, 2, "-", 0},
        {0, 3, "E&xit\tAlt F4", 2}, {1, 0, "&Contents", 1013}, {1, 1, "&About ZAV Print...", 1010},
    };
    UINT unused = 0;
    EXPECT_EQ(MenuEntry(menu, 0, &unused), "&File");
    EXPECT_EQ(MenuEntry(menu, 1, &unused), "&Help");
    for (const Entry& e : entries) {
        HMENU popup = GetSubMenu(menu, e.popup);
        ASSERT_NE(popup, nullptr);
        UINT id = 0;
        EXPECT_EQ(MenuEntry(popup, e.index, &id), e.text);
        if (e.id) {
            EXPECT_EQ(id, e.id) << e.text;
        }
    }
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 0)), 4);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 1)), 2);
    DestroyMenu(menu);
}

TEST_F(Resources, AcceleratorsAndStrings) {
    HACCEL accel = LoadAcceleratorsA(module_, MAKEINTRESOURCEA(IDR_ACCELERATOR1));
    ASSERT_NE(accel, nullptr);
    ACCEL keys[4];
    ASSERT_EQ(CopyAcceleratorTableA(accel, keys, 4), 2);
    const BYTE flags = FVIRTKEY | FCONTROL | FNOINVERT;
    EXPECT_EQ(keys[0].fVirt & ~0x80, flags);
    EXPECT_EQ(keys[0].key, 'A');
    EXPECT_EQ(keys[0].cmd, 57600);
    EXPECT_EQ(keys[1].fVirt & ~0x80, flags);
    EXPECT_EQ(keys[1].key, 'S');
    EXPECT_EQ(keys[1].cmd, 57603);

    const char* const texts[] = {"ZAV Print Utility",
                                 "Resource file missing, please reinstall",
                                 "Not supported on this operating system",
                                 "Help file not installed",
                                 "Cannot write blank file %s",
                                 "Cannot open blank file %s",
                                 "Cannot open com port\n\nError = %08X"};
    for (int id = 3001; id <= 3007; ++id) {
        char text[256] = "";
        EXPECT_GT(LoadStringA(module_, static_cast<UINT>(id), text, sizeof text), 0) << id;
        EXPECT_STREQ(text, texts[id - 3001]) << id;
    }
    char none[16] = "x";
    EXPECT_EQ(LoadStringA(module_, 3008, none, sizeof none), 0);
}

TEST_F(Resources, IconIsOne32By32ImageOf16Colours) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD size;
        WORD id;
    };
#pragma pack(pop)
    std::vector<unsigned char> group = Bytes(MAKEINTRESOURCEA(IDI_APPICON), RT_GROUP_ICON);
    ASSERT_EQ(group.size(), 6 + sizeof(GroupEntry));
    EXPECT_EQ(group[4] | group[5] << 8, 1); // one image
    GroupEntry entry;
    std::memcpy(&entry, group.data() + 6, sizeof entry);
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 32);
    EXPECT_EQ(entry.colours, 16);
    EXPECT_EQ(entry.bitCount, 4);
    std::vector<unsigned char> image = Bytes(MAKEINTRESOURCEA(entry.id), RT_ICON);
    EXPECT_EQ(image.size(), entry.size);
    ASSERT_GE(image.size(), 16u);
    EXPECT_EQ(image[14], 4); // the bitmap header's bit count
}

// ---- application manifest ---------------------------------------------------

// The manifest as Windows reads it when the program starts: an activation
// context made from resource 1 of type RT_MANIFEST in the program file.
class Manifest : public ::testing::Test {
  protected:
    void SetUp() override {
        ACTCTXA request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = kExe.c_str();
        request.lpResourceName = MAKEINTRESOURCEA(1);
        context_ = CreateActCtxA(&request);
        ASSERT_NE(context_, INVALID_HANDLE_VALUE)
            << "no usable manifest in " << kExe << ", error " << GetLastError();
    }
    void TearDown() override {
        if (context_ != INVALID_HANDLE_VALUE)
            ReleaseActCtx(context_);
    }
    std::wstring Setting(const wchar_t* ns, const wchar_t* name) {
        wchar_t value[128] = L"";
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, context_, ns, name, value, 128, &written))
            return L"<none>";
        return value;
    }
    HANDLE context_ = INVALID_HANDLE_VALUE;
};

TEST_F(Manifest, RunsAsInvokerOnWindowsVistaTo11) {
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    SIZE_T written = 0;
    ASSERT_TRUE(QueryActCtxW(0, context_, nullptr, RunlevelInformationInActivationContext, &level,
                             sizeof level, &written));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);

    // The element layout differs between SDKs; the count and the GUIDs do not.
    unsigned char info[512] = {};
    ASSERT_TRUE(QueryActCtxW(0, context_, nullptr, CompatibilityInformationInActivationContext,
                             info, sizeof info, &written));
    DWORD count = 0;
    std::memcpy(&count, info, sizeof count);
    EXPECT_EQ(count, 5u);
    const GUID systems[] = {
        {0xe2011457, 0x1546, 0x43c5, {0xa5, 0xfe, 0x00, 0x8d, 0xee, 0xe3, 0xd3, 0xf0}}, // Vista
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}}, // 7
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}}, // 8
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}}, // 8.1
        {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}}, // 10, 11
    };
    const unsigned char* begin = info;
    const unsigned char* end = begin + std::min<SIZE_T>(written, sizeof info);
    for (const GUID& system : systems) {
        auto* id = reinterpret_cast<const unsigned char*>(&system);
        EXPECT_NE(std::search(begin, end, id, id + sizeof system), end)
            << "supportedOS " << std::hex << system.Data1;
    }
}

TEST_F(Manifest, ThemedControlsAndPerMonitorScaling) {
    // The loader resolves the dependency on the themed common controls.
    std::vector<std::string> assemblies;
    for (DWORD index = 1; index < 8; ++index) {
        alignas(8) unsigned char buffer[4096];
        ACTIVATION_CONTEXT_QUERY_INDEX which{index, 0};
        SIZE_T written = 0;
        if (!QueryActCtxW(0, context_, &which, AssemblyDetailedInformationInActivationContext,
                          buffer, sizeof buffer, &written))
            break;
        const auto& assembly =
            *reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer);
        std::string identity;
        for (const wchar_t* c = assembly.lpAssemblyEncodedAssemblyIdentity; c && *c; ++c)
            identity += static_cast<char>(*c);
        assemblies.push_back(identity);
    }
    ASSERT_EQ(assemblies.size(), 2u);
    EXPECT_EQ(assemblies[0].rfind("ZAVPrint.RUDIRAVU,", 0), 0u) << assemblies[0];
    EXPECT_EQ(assemblies[1].rfind("Microsoft.Windows.Common-Controls,", 0), 0u) << assemblies[1];
    EXPECT_NE(assemblies[1].find("version=\"6."), std::string::npos) << assemblies[1];

    EXPECT_EQ(Setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(Setting(nullptr, L"dpiAware"), L"true/pm"); // Windows 8.1 and earlier
}

// ---- version record and exports --------------------------------------------

TEST(VersionRecord, NamesTheProductAndItsMaker) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(kExe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(kExe.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000005u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000005u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04E4);

    const char* const strings[][2] = {{"CompanyName", ZAV_MAKER_NAME},
                                      {"FileDescription", "ZAV Print Utility"},
                                      {"FileVersion", "1.0.0.5"},
                                      {"InternalName", "RUDIRAVU"},
                                      {"LegalCopyright", ZAV_COPYRIGHT_LINE},
                                      {"OriginalFilename", "RUDIRAVU.EXE"},
                                      {"ProductName", "ZAV Print Utility"},
                                      {"ProductVersion", "1.0.0.5"}};
    for (const auto& s : strings) {
        std::string path = std::string("\\StringFileInfo\\040904E4\\") + s[0];
        char* value = nullptr;
        ASSERT_TRUE(
            VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
            << s[0];
        EXPECT_STREQ(value, s[1]) << s[0];
    }
    EXPECT_EQ(std::strlen(ZAV_COPYRIGHT_LINE), 48u);

    // The program's file carries the record's original name.
    std::string file = kExe.substr(kExe.find_last_of('\\') + 1);
    EXPECT_EQ(
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, file.c_str(), -1, "RUDIRAVU.EXE", -1),
        CSTR_EQUAL);
}

// Names in the export table of the program file.
std::set<std::string> ExportedNames(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    std::set<std::string> names;
    auto at = [&](std::size_t offset, std::size_t size) {
        return offset + size <= file.size() ? file.data() + offset : nullptr;
    };
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    if (!dos)
        return names;
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        at(static_cast<std::size_t>(dos->e_lfanew), sizeof(IMAGE_NT_HEADERS64)));
    if (!nt || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return names;
    auto* sections = IMAGE_FIRST_SECTION(nt);
    auto toOffset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return file.size();
    };
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        at(toOffset(dir.VirtualAddress), sizeof(IMAGE_EXPORT_DIRECTORY)));
    if (!dir.VirtualAddress || !exports)
        return names;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        auto* rva =
            reinterpret_cast<const DWORD*>(at(toOffset(exports->AddressOfNames) + 4 * i, 4));
        if (!rva)
            break;
        std::size_t offset = toOffset(*rva);
        if (offset >= file.size())
            break;
        names.emplace(
            reinterpret_cast<const char*>(file.data() + offset),
            strnlen(reinterpret_cast<const char*>(file.data() + offset), file.size() - offset));
    }
    return names;
}

TEST(Exports, TheHostFindsTheProgramsEntryPoints) {
    std::set<std::string> names = ExportedNames(kExe);
    EXPECT_TRUE(names.count("appGethAppl"));
    EXPECT_TRUE(names.count("vokDoMessageFmtEx"));
}

TEST(Exports, EveryCallbackAndProcedureTheDialogsNameIsExported) {
    const std::set<std::string> exported = ExportedNames(kExe);
    ASSERT_FALSE(exported.empty()) << "no export table in " << kExe;
    // BitmapFld registers BitmapWndProc as its window's procedure: no
    // description names it, the host finds it by name all the same.
    std::set<std::string> named = {"BitmapWndProc"};
    for (const zav::NamedDialogDescription& d : zav::ModuleDialogDescriptions()) {
        for (const zav::DescriptionItem& item : d.description.items) {
            const std::string callback = zav::SplitCallbackText(zav::ItemCallbackText(item)).name;
            if (!callback.empty())
                named.insert(callback);
            if (item.itemType == zav::kItemButton) {
                const zav::ButtonPlan plan = zav::PlanButton(item);
                if (plan.command.kind == zav::CommandKind::Call)
                    named.insert(plan.command.target);
            }
        }
    }
    EXPECT_GE(named.size(), 10u) << "the descriptions name fewer entry points than they do";
    for (const std::string& name : named) {
        // The engine also finds a name exported with the description's "=".
        // The dialog engine skips a missing one without a word.
        const bool found = exported.count(name) || exported.count("=" + name);
        EXPECT_TRUE(found) << name << " is named by a dialog but not exported";
    }
}

} // namespace
