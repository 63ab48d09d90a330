// CB_ZavRirazVersion, CB_HelpEn and CB_BrowseFolder: the About dialog's
// version and Windows name, the help file and the shell's folder dialog.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/about.h"
#include "app/message.h"
#include "app/osname.h"
#include "host/exports.h"
#include "host/quor.h"
#include "host/vok.h"
#include "resources/resource.h"

namespace zav {

namespace {

constexpr std::size_t kOsNameSize = 512;
constexpr DWORD kVersionPathSize = 512;

// The full path of the program's file; false when it cannot be had whole.
bool ModulePath(char* path, DWORD size) {
    const DWORD got = GetModuleFileNameA(nullptr, path, size);
    if (got == 0 || got >= size) {
        path[0] = '\0';
        return false;
    }
    return true;
}

// "ProductVersion" of the program's own version record into the store's
// "ZavRirazVersion": emptied when the record lacks it, left alone when the
// record cannot be read.
void StoreProductVersion(HQUOR store) {
    char path[kVersionPathSize];
    if (!ModulePath(path, sizeof path))
        return;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block)
        return;
    void* record = GlobalLock(block);
    if (record && GetFileVersionInfoA(path, 0, size, record)) {
        const char* version = nullptr;
        void* translation = nullptr;
        UINT length = 0;
        if (VerQueryValueA(record, "\\VarFileInfo\\Translation", &translation, &length) &&
            translation && length >= sizeof(DWORD)) {
            DWORD entry;
            std::memcpy(&entry, translation, sizeof entry);
            char query[64];
            std::snprintf(query, sizeof query, "\\StringFileInfo\\%04X%04X\\ProductVersion",
                          static_cast<unsigned>(LOWORD(entry)),
                          static_cast<unsigned>(HIWORD(entry)));
            void* value = nullptr;
            length = 0;
            if (VerQueryValueA(record, query, &value, &length) && value && length != 0)
                version = static_cast<const char*>(value);
        }
        if (version)
            quorSetString(store, "ZavRirazVersion", version);
        else
            quorSetItem(store, "ZavRirazVersion", 0, 0);
    }
    if (record)
        GlobalUnlock(block);
    GlobalFree(block);
}

// Opens the dialog on the folder in the path buffer and shows the selected
// folder in the dialog's status line.
int CALLBACK BrowseCallback(HWND wnd, UINT message, LPARAM item, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        if (data)
            SendMessageA(wnd, BFFM_SETSELECTIONA, TRUE, data);
    } else if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH];
        if (SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(item), path))
            SendMessageA(wnd, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

// The folder chooser: the shell's folder dialog on the field's current
// folder (also one that no longer exists). Stores the chosen folder under the
// field and returns 1; 0 when the user cancels or the choice is no folder of
// the file system, which leaves the field as it was.
int ChooseFolder(HWND owner, HQUOR store, const char* title, const char* field) {
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator)
        return 0;
    // The dialog of the new style is made of COM objects.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    char path[MAX_PATH];
    if (quorGetString(store, field, path, sizeof path) < 0)
        path[0] = '\0';
    path[sizeof path - 1] = '\0';
    BROWSEINFOA info;
    std::memset(&info, 0, sizeof info);
    info.hwndOwner = owner;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(path);
    int chosen = 0;
    if (PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&info)) {
        if (SHGetPathFromIDListA(item, path)) {
            quorSetString(store, field, path);
            chosen = 1;
        }
        allocator->Free(item);
    }
    allocator->Release();
    if (SUCCEEDED(com))
        CoUninitialize();
    return chosen;
}

} // namespace

} // namespace zav

// The About dialog's version field: once its window exists, the version from
// the program's version record and the name of the running Windows.
ZAV_EXPORT std::intptr_t CB_ZavRirazVersion(HVOKDLG dlg, int message, std::intptr_t v1,
                                            std::intptr_t v2) {
    if (message == VOK_ATTACH) {
        HQUOR store = static_cast<HQUOR>(vokGetInfo(dlg, VOK_INFO_STORE));
        zav::StoreProductVersion(store);
        char name[zav::kOsNameSize] = "";
        zav::GetOsName(name, sizeof name);
        quorSetString(store, "WinVer", name);
    }
    return vokCtlDefProc(dlg, message, v1, v2);
}

// The Help button: the help file beside the program, opened by the shell.
ZAV_EXPORT std::intptr_t CB_HelpEn(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    if (message != VOK_ACTIVATE)
        return vokCtlDefProc(dlg, message, v1, v2);
    HWND window = static_cast<HWND>(vokGetInfo(dlg, VOK_INFO_WINDOW));
    char module[MAX_PATH];
    char help[MAX_PATH];
    if (!zav::ModulePath(module, sizeof module) ||
        !zav::SiblingFilePath(module, zav::kHelpFileName, help, sizeof help))
        return -2;
    const DWORD attributes = GetFileAttributesA(help);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        vokDoMessageFmtEx(window, 0, IDS_APP_TITLE, IDS_NO_HELP_FILE);
        return -2;
    }
    char folder[MAX_PATH];
    std::memcpy(folder, help, sizeof folder);
    std::strrchr(folder, '\\')[1] = '\0';
    ShellExecuteA(window, "Open", help, nullptr, folder, SW_SHOWNA);
    return -2;
}

// The "..." button: the capture folder through the shell's folder dialog.
ZAV_EXPORT std::intptr_t CB_BrowseFolder(HVOKDLG dlg, int message, std::intptr_t v1,
                                         std::intptr_t v2) {
    if (message != VOK_ACTIVATE)
        return vokCtlDefProc(dlg, message, v1, v2);
    HWND window = static_cast<HWND>(vokGetInfo(dlg, VOK_INFO_WINDOW));
    HQUOR store = static_cast<HQUOR>(vokGetInfo(dlg, VOK_INFO_STORE));
    const std::intptr_t result = vokCtlDefProc(dlg, message, v1, v2);
    zav::ChooseFolder(window, store, zav::kBrowseFolderTitle, "CaptureFolder");
    return result;
}
