// The dialog engine on Win32: runs a dialog from its template and its
// description, binds each control to a value-store field, a literal text or a
// callback exported by the program, and acts on the buttons.
//
// Threads: a dialog lives on the thread that runs vokDoDialog. Other threads
// reach it only through the value store (a watcher posts a refresh message) and
// through vokSetAccess / vokSetItem, which post or write the store instead of
// touching windows; a live list guards against posting to a dialog that ended.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "host/description.h"
#include "host/trel.h"
#include "host/vok.h"
#include "host/vokbind.h"

using zav::DescriptionItem;

namespace {

constexpr const char* kDialogClass = "vokDialog";
constexpr std::uint32_t kMagic = 0x564F4B44; // "VOKD"
constexpr int kTextMax = 1024;
constexpr UINT kMsgRefresh = WM_APP + 0x56; // wParam: item index
constexpr UINT kMsgAccess = WM_APP + 0x57;  // wParam: item index, lParam: access

struct VokItem {
    DescriptionItem desc;
    zav::ItemBinding bind;
    HWND wnd = nullptr;
    HWND label = nullptr;
    VokCallback callback = nullptr; // nullptr when the program lacks the export
    void* mem = nullptr;            // vokCtlMemAlloc block
};

} // namespace

struct VokDialog {
    std::uint32_t magic = kMagic;
    HGLOBAL self = nullptr;
    HWND wnd = nullptr;
    HWND parent = nullptr;
    HQUOR store = nullptr;
    HQUOR presentation = nullptr;
    DWORD thread = 0;
    std::string name; // resource name, upper case
    std::vector<VokItem> items;
    int current = -1; // item whose callback runs
    bool ended = false;
    int result = -1;
    HACCEL accel = nullptr;
};

namespace {

// Dialogs that are running; cross-thread calls check this list before they
// post to a dialog window.
std::mutex g_liveLock;
std::vector<VokDialog*> g_live;

bool IsLive(VokDialog* d) {
    return std::find(g_live.begin(), g_live.end(), d) != g_live.end();
}

HINSTANCE ModuleInstance() {
    return GetModuleHandleA(nullptr);
}

bool RegisterDialogClass() {
    static bool registered = false;
    if (registered)
        return true;
    WNDCLASSA wc{};
    if (GetClassInfoA(ModuleInstance(), kDialogClass, &wc))
        return registered = true;
    wc.style = CS_DBLCLKS | CS_SAVEBITS;
    wc.lpfnWndProc = DefDlgProcA;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = ModuleInstance();
    wc.hIcon = LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(101));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kDialogClass;
    registered = RegisterClassA(&wc) != 0;
    return registered;
}

// A resource of the module: its bytes, or {nullptr, 0}.
std::pair<const unsigned char*, DWORD> FindModuleResource(const std::string& name, LPCSTR type) {
    HRSRC res = FindResourceA(ModuleInstance(), name.c_str(), type);
    if (!res)
        return {nullptr, 0};
    HGLOBAL data = LoadResource(ModuleInstance(), res);
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes)
        return {nullptr, 0};
    return {static_cast<const unsigned char*>(bytes), SizeofResource(ModuleInstance(), res)};
}

BOOL CALLBACK LoadFirstAccelerators(HMODULE module, LPCSTR, LPSTR name, LONG_PTR out) {
    *reinterpret_cast<HACCEL*>(out) = LoadAcceleratorsA(module, name);
    return FALSE; // the first table is enough
}

// The module's accelerator table, loaded for each dialog (the system frees it
// with the module). Its commands reach the dialog like menu commands; those no
// control carries do nothing.
HACCEL LoadModuleAccelerators() {
    HACCEL accel = nullptr;
    EnumResourceNamesA(ModuleInstance(), RT_ACCELERATOR, LoadFirstAccelerators,
                       reinterpret_cast<LONG_PTR>(&accel));
    return accel;
}

VokCallback FindExport(const std::string& name) {
    if (name.empty())
        return nullptr;
    HMODULE self = GetModuleHandleA(nullptr);
    FARPROC proc = GetProcAddress(self, name.c_str());
    if (!proc)
        proc = GetProcAddress(self, ("=" + name).c_str());
    return reinterpret_cast<VokCallback>(reinterpret_cast<void*>(proc));
}

int ResolveIndex(VokDialog* d, int index) {
    if (index == VOK_CURRENT_INDEX)
        index = d->current;
    if (index < 0 || index >= static_cast<int>(d->items.size()))
        return -1;
    return index;
}

intptr_t CallItem(VokDialog* d, int index, int message, intptr_t v1, intptr_t v2) {
    const int saved = d->current;
    d->current = index;
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    const intptr_t r =
        item.callback ? item.callback(d, message, v1, v2) : vokCtlDefProc(d, message, v1, v2);
    d->current = saved;
    return r;
}

std::string WindowText(HWND wnd) {
    if (!wnd)
        return {};
    const int length = GetWindowTextLengthA(wnd);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    const int got = GetWindowTextA(wnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

void SetControlText(VokItem& item, const std::string& text) {
    if (!item.wnd)
        return;
    const std::string shown = zav::ControlText(text, item.bind.multiLine);
    if (WindowText(item.wnd) != shown)
        SetWindowTextA(item.wnd, shown.c_str());
}

std::string StoreText(VokDialog* d, const std::string& field) {
    char buf[kTextMax];
    if (quorGetString(d->store, field.c_str(), buf, sizeof buf) < 0)
        return {};
    return buf;
}

const std::string& CheckedValue(const VokItem& item, bool checked) {
    return checked ? item.bind.checkedValue : item.bind.clearedValue;
}

void FillTable(VokDialog* d, VokItem& item) {
    if (!item.wnd)
        return;
    const char* field = item.bind.field.c_str();
    const std::string* fmt = item.desc.Find(zav::kKeyFormat);
    const int selected = static_cast<int>(SendMessageA(item.wnd, LB_GETCURSEL, 0, 0));
    SendMessageA(item.wnd, WM_SETREDRAW, FALSE, 0);
    SendMessageA(item.wnd, LB_RESETCONTENT, 0, 0);
    const int rows = quorTableRowCount(d->store, field);
    const int columns = quorTableColumnCount(d->store, field);
    for (int r = 0; r < rows; ++r) {
        std::vector<std::string> cells;
        for (int c = 0; c < columns; ++c) {
            char buf[256];
            if (quorTableGetField(d->store, field, r, c, buf, sizeof buf) < 0)
                buf[0] = '\0';
            cells.emplace_back(buf);
        }
        const std::string row = zav::FormatTableRow(fmt ? *fmt : std::string(), cells);
        SendMessageA(item.wnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
    if (selected >= 0 && selected < rows)
        SendMessageA(item.wnd, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    SendMessageA(item.wnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(item.wnd, nullptr, TRUE);
}

// Shows the item's value from the store (or its literal text).
void ShowFromStore(VokDialog* d, int index) {
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    if (!item.wnd)
        return;
    if (item.desc.nameKind == zav::kNameLiteral) {
        SetControlText(item, item.desc.name);
        return;
    }
    if (item.bind.field.empty() || item.desc.itemType == zav::kItemButton)
        return;
    switch (item.desc.itemType) {
    case zav::kItemTable:
        FillTable(d, item);
        break;
    case zav::kItemCheckBox: {
        const bool checked = StoreText(d, item.bind.field) == CheckedValue(item, true);
        SendMessageA(item.wnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    }
    default:
        SetControlText(item, StoreText(d, item.bind.field));
        break;
    }
}

// A store change reached the dialog thread: items with a callback get the
// value through message 22, the others are shown directly.
void RefreshItem(VokDialog* d, int index) {
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    if (item.callback && item.desc.itemType == zav::kItemField) {
        const std::string text = StoreText(d, item.bind.field);
        CallItem(d, index, VOK_SETVALUE, 0, reinterpret_cast<intptr_t>(text.c_str()));
        CallItem(d, index, VOK_REDRAW1, 0, 0);
    } else {
        ShowFromStore(d, index);
    }
}

// Writes what the user entered into the item's field.
void WriteToStore(VokDialog* d, int index) {
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    if (!item.bind.editable || !item.wnd)
        return;
    std::string value;
    if (item.desc.itemType == zav::kItemCheckBox) {
        value = CheckedValue(item, SendMessageA(item.wnd, BM_GETCHECK, 0, 0) == BST_CHECKED);
    } else if (item.callback) {
        char buf[kTextMax] = {};
        const intptr_t n =
            CallItem(d, index, VOK_GETVALUE, sizeof buf - 1, reinterpret_cast<intptr_t>(buf));
        buf[std::clamp<intptr_t>(n, 0, sizeof buf - 1)] = '\0';
        value = buf;
    } else {
        value = WindowText(item.wnd);
    }
    if (StoreText(d, item.bind.field) != value ||
        quorGetType(d->store, item.bind.field.c_str()) == 0)
        quorSetString(d->store, item.bind.field.c_str(), value.c_str());
}

void WriteFields(VokDialog* d, const zav::FieldList& list) {
    for (std::size_t i = 0; i < d->items.size(); ++i) {
        const VokItem& item = d->items[i];
        if (list.all ||
            std::find(list.names.begin(), list.names.end(), item.bind.field) != list.names.end())
            WriteToStore(d, static_cast<int>(i));
    }
}

void EndDialogWith(VokDialog* d, int result) {
    WriteFields(d, zav::FieldList{{}, true}); // edits are kept whichever way it ends
    d->ended = true;
    d->result = result;
}

std::string DialogTitle(VokDialog* d) {
    return WindowText(d->wnd);
}

void RunCommand(VokDialog* d, const zav::ButtonCommand& command) {
    switch (command.kind) {
    case zav::CommandKind::Call: {
        auto proc =
            reinterpret_cast<VokProcedure>(reinterpret_cast<void*>(FindExport(command.target)));
        if (proc)
            proc(d->wnd, 0, 0, 0, d->store);
        break;
    }
    case zav::CommandKind::Stack:
        vokDoDialog(d->wnd, command.target.c_str(), d->presentation, d->store);
        break;
    case zav::CommandKind::Message:
        // An information box: the texts these buttons carry tell, they do not ask.
        vokDoMessage(d->wnd, MB_OK | MB_ICONINFORMATION, DialogTitle(d).c_str(),
                     command.target.c_str());
        break;
    case zav::CommandKind::None:
        break;
    }
}

void PressButton(VokDialog* d, int index) {
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    const zav::ButtonPlan plan = item.bind.plan; // the callback may not change it
    WriteFields(d, plan.fields);
    if (item.callback)
        CallItem(d, index, VOK_ACTIVATE, 0, 0);
    RunCommand(d, plan.command);
    if (plan.ends && !d->ended)
        EndDialogWith(d, static_cast<int>(item.desc.controlId));
}

int IndexFromId(VokDialog* d, int id) {
    for (std::size_t i = 0; i < d->items.size(); ++i) {
        if (d->items[i].desc.controlId == id)
            return static_cast<int>(i);
    }
    return -1;
}

void OnCommand(VokDialog* d, WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (lParam != 0 && code != BN_CLICKED)
        return; // edit and list notifications
    const int index = IndexFromId(d, id);
    if (index < 0) {
        // Close box or Esc on a dialog without a button 2; accelerator
        // commands that no control carries do nothing.
        if (id == IDCANCEL)
            EndDialogWith(d, IDCANCEL);
        return;
    }
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    if (item.desc.itemType == zav::kItemCheckBox) {
        WriteToStore(d, index);
        return;
    }
    if (item.desc.itemType != zav::kItemButton)
        return;
    // A disabled button stays inert, also when Esc or an accelerator names it.
    if (item.wnd && !IsWindowEnabled(item.wnd))
        return;
    PressButton(d, index);
}

void ApplyAccess(VokDialog* d, int index, bool enable) {
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    if (item.wnd) {
        if (!enable && GetFocus() == item.wnd)
            SendMessageA(d->wnd, WM_NEXTDLGCTL, 0, FALSE);
        EnableWindow(item.wnd, enable);
    }
    if (item.label)
        EnableWindow(item.label, enable);
    if (HMENU menu = GetMenu(d->wnd)) {
        EnableMenuItem(menu, item.desc.controlId, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
        DrawMenuBar(d->wnd);
    }
}

INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* d = reinterpret_cast<VokDialog*>(lParam);
        d->wnd = wnd;
        SetWindowLongPtrA(wnd, DWLP_USER, reinterpret_cast<LONG_PTR>(d->self));
        return TRUE;
    }
    VokDialog* d = vokDialogFromWindow(wnd);
    if (!d || d->ended)
        return FALSE; // an ended dialog acts on nothing that is still queued
    switch (msg) {
    case WM_COMMAND:
        OnCommand(d, wParam, lParam);
        return TRUE;
    case kMsgRefresh:
        if (ResolveIndex(d, static_cast<int>(wParam)) >= 0)
            RefreshItem(d, static_cast<int>(wParam));
        return TRUE;
    case kMsgAccess:
        if (ResolveIndex(d, static_cast<int>(wParam)) >= 0)
            ApplyAccess(d, static_cast<int>(wParam), lParam != VOK_ACCESS_DISABLED);
        return TRUE;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            for (std::size_t i = 0; i < d->items.size(); ++i) {
                if (d->items[i].callback)
                    CallItem(d, static_cast<int>(i), VOK_REDRAW2, 0, 0);
            }
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// Runs on whichever thread changed the store; only posts.
void OnStoreChange(void* ctx, HQUOR, const char* field) {
    auto* d = static_cast<VokDialog*>(ctx);
    if (!field)
        return;
    for (std::size_t i = 0; i < d->items.size(); ++i) {
        if (!d->items[i].bind.field.empty() && d->items[i].bind.field == field)
            PostMessageA(d->wnd, kMsgRefresh, i, 0);
    }
}

void BindItems(VokDialog* d, const zav::DialogDescription& desc) {
    for (const DescriptionItem& di : desc.items) {
        VokItem item;
        item.desc = di;
        item.bind = zav::BindItem(di);
        item.wnd = GetDlgItem(d->wnd, di.controlId);
        if (item.bind.labelId != 0)
            item.label = GetDlgItem(d->wnd, item.bind.labelId);
        item.callback = FindExport(item.bind.callbackName);
        d->items.push_back(std::move(item));
    }
}

// Saved position if there is one on a visible monitor, else centred over the parent.
void PlaceDialog(VokDialog* d) {
    RECT r{};
    GetWindowRect(d->wnd, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    int x = 0, y = 0;
    if (trelGetDialogPos(d->presentation, d->name.c_str(), &x, &y) != 1) {
        RECT owner{};
        HWND parent = d->parent;
        if (!parent || !IsWindowVisible(parent) || IsIconic(parent) ||
            !GetWindowRect(parent, &owner)) {
            SystemParametersInfoA(SPI_GETWORKAREA, 0, &owner, 0);
        }
        x = owner.left + ((owner.right - owner.left) - w) / 2;
        y = owner.top + ((owner.bottom - owner.top) - h) / 2;
    }
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    const POINT topLeft{x, y};
    HMONITOR mon = MonitorFromPoint(topLeft, MONITOR_DEFAULTTONEAREST);
    if (mon && GetMonitorInfoA(mon, &mi)) {
        const RECT& wa = mi.rcWork;
        x = std::max<int>(wa.left, std::min<int>(x, wa.right - w));
        y = std::max<int>(wa.top, std::min<int>(y, wa.bottom - h));
    }
    SetWindowPos(d->wnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SavePlacement(VokDialog* d) {
    RECT r{};
    if (GetWindowRect(d->wnd, &r))
        trelSetDialogPos(d->presentation, d->name.c_str(), r.left, r.top);
}

// Clears WS_VISIBLE in a copy of a dialog template (DLGTEMPLATEEX or DLGTEMPLATE).
void ClearVisibleStyle(std::vector<unsigned char>& tmpl) {
    const bool extended =
        tmpl.size() >= 4 && tmpl[0] == 1 && tmpl[1] == 0 && tmpl[2] == 0xFF && tmpl[3] == 0xFF;
    const std::size_t at = extended ? 12 : 0;
    if (tmpl.size() < at + 4)
        return;
    DWORD style;
    std::memcpy(&style, tmpl.data() + at, sizeof style);
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(tmpl.data() + at, &style, sizeof style);
}

int RunModal(VokDialog* d) {
    MSG msg;
    while (!d->ended) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam)); // for the loop that owns it
            break;
        }
        if (d->accel && TranslateAcceleratorA(d->wnd, d->accel, &msg))
            continue;
        if (IsDialogMessageA(d->wnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return d->ended ? d->result : -1;
}

} // namespace

HVOKDLG vokDialogFromWindow(VokWnd window) {
    HWND wnd = static_cast<HWND>(window);
    if (!wnd || !IsWindow(wnd))
        return nullptr;
    char cls[32] = {};
    if (!GetClassNameA(wnd, cls, sizeof cls) || lstrcmpiA(cls, kDialogClass) != 0)
        return nullptr;
    HGLOBAL handle = reinterpret_cast<HGLOBAL>(GetWindowLongPtrA(wnd, DWLP_USER));
    if (!handle)
        return nullptr;
    // The block stays locked while the dialog runs, so its address outlives
    // this lock/unlock pair.
    auto* d = static_cast<VokDialog*>(GlobalLock(handle));
    if (!d)
        return nullptr;
    GlobalUnlock(handle);
    return d->magic == kMagic ? d : nullptr;
}

int vokDoDialog(VokWnd parent, const char* name, HQUOR presentation, HQUOR store) {
    if (!name || !RegisterDialogClass())
        return -1;
    const std::string resName = zav::DialogResourceName(name);
    if (resName.empty())
        return -1;
    const auto [tmpl, tmplSize] = FindModuleResource(resName, RT_DIALOG);
    const auto [descBytes, descSize] =
        FindModuleResource(resName, MAKEINTRESOURCEA(zav::kDescriptionResourceType));
    zav::DialogDescription desc;
    if (!tmpl || tmplSize == 0 || !descBytes ||
        !zav::ParseDialogDescription(descBytes, descSize, desc))
        return -1;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(VokDialog));
    void* mem = block ? GlobalLock(block) : nullptr;
    if (!mem) {
        if (block)
            GlobalFree(block);
        return -1;
    }
    auto* d = new (mem) VokDialog;
    d->self = block;
    d->parent = static_cast<HWND>(parent);
    d->store = store;
    d->presentation = presentation;
    d->thread = GetCurrentThreadId();
    d->name = resName;
    d->accel = LoadModuleAccelerators();

    int result = -1;
    // The parent is disabled first, as for any modal dialog, and the dialog is
    // created hidden, so it appears only once it stands where it belongs.
    const bool parentWasEnabled = d->parent && IsWindowEnabled(d->parent);
    if (parentWasEnabled)
        EnableWindow(d->parent, FALSE);
    std::vector<unsigned char> hidden(tmpl, tmpl + tmplSize);
    ClearVisibleStyle(hidden);
    HWND wnd = CreateDialogIndirectParamA(ModuleInstance(),
                                          reinterpret_cast<LPCDLGTEMPLATEA>(hidden.data()),
                                          d->parent, DialogProc, reinterpret_cast<LPARAM>(d));
    if (wnd) {
        BindItems(d, desc);
        {
            std::lock_guard<std::mutex> guard(g_liveLock);
            g_live.push_back(d);
        }
        for (std::size_t i = 0; i < d->items.size(); ++i) {
            if (d->items[i].callback)
                CallItem(d, static_cast<int>(i), VOK_SETUP, 0, 0);
            else
                ShowFromStore(d, static_cast<int>(i));
        }
        PlaceDialog(d);
        if (!d->parent || !IsWindowVisible(d->parent)) {
            // Over the hidden base window: give the dialog its own taskbar button.
            SetWindowLongPtrA(wnd, GWL_EXSTYLE,
                              GetWindowLongPtrA(wnd, GWL_EXSTYLE) | WS_EX_APPWINDOW);
        }
        ShowWindow(wnd, SW_SHOW);
        UpdateWindow(wnd);
        quorWatch(store, OnStoreChange, d);
        // The field windows exist: callbacks attach or fill in their values
        // (a status text they show meanwhile is painted by now).
        for (std::size_t i = 0; i < d->items.size() && !d->ended; ++i)
            CallItem(d, static_cast<int>(i), VOK_ATTACH, 0, 0);

        result = RunModal(d);

        {
            std::lock_guard<std::mutex> guard(g_liveLock);
            g_live.erase(std::find(g_live.begin(), g_live.end(), d));
        }
        quorUnwatch(store, OnStoreChange, d);
        SavePlacement(d);
        for (std::size_t i = 0; i < d->items.size(); ++i) {
            if (d->items[i].callback)
                CallItem(d, static_cast<int>(i), VOK_RELEASE, 0, 0);
            std::free(d->items[i].mem);
            d->items[i].mem = nullptr;
        }
        // Give activation back to the parent before this window goes.
        if (parentWasEnabled)
            EnableWindow(d->parent, TRUE);
        if (d->parent && IsWindow(d->parent) && GetActiveWindow() == wnd)
            SetActiveWindow(d->parent);
        SetWindowLongPtrA(wnd, DWLP_USER, 0);
        DestroyWindow(wnd);
    } else if (parentWasEnabled) {
        EnableWindow(d->parent, TRUE);
    }
    d->~VokDialog();
    GlobalUnlock(block);
    GlobalFree(block);
    return result;
}

std::intptr_t vokCtlDefProc(HVOKDLG d, int message, std::intptr_t v1, std::intptr_t v2) {
    if (!d || d->current < 0)
        return 0;
    VokItem& item = d->items[static_cast<std::size_t>(d->current)];
    switch (message) {
    case VOK_ATTACH:
        ShowFromStore(d, d->current);
        return 0;
    case VOK_SETVALUE: {
        if (!v2 || !item.wnd)
            return 0;
        const char* text = reinterpret_cast<const char*>(v2);
        if (item.desc.itemType == zav::kItemCheckBox) {
            const bool checked = CheckedValue(item, true) == text;
            SendMessageA(item.wnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        } else if (item.desc.itemType == zav::kItemTable) {
            FillTable(d, item); // a table's value is the store's table
        } else if (item.desc.itemType != zav::kItemButton) {
            SetControlText(item, text);
        }
        return 0;
    }
    case VOK_GETVALUE: {
        const std::string text = WindowText(item.wnd);
        auto* buf = reinterpret_cast<char*>(v2);
        if (v1 <= 0 || !buf)
            return static_cast<std::intptr_t>(text.size());
        const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(v1) - 1);
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
        return static_cast<std::intptr_t>(n);
    }
    case VOK_RELEASE:
        std::free(item.mem);
        item.mem = nullptr;
        return 0;
    default: // 1, 5, 6, 31: nothing to add
        return 0;
    }
}

void* vokGetInfo(HVOKDLG d, int code) {
    if (!d)
        return nullptr;
    switch (code) {
    case VOK_INFO_STORE:
    case VOK_INFO_TABLE_STORE:
        return d->store;
    case VOK_INFO_WINDOW:
        return d->wnd;
    default:
        return nullptr;
    }
}

int vokGetIndexFromTag(HVOKDLG d, const char* tag) {
    if (!d || !tag)
        return -1;
    for (std::size_t i = 0; i < d->items.size(); ++i) {
        if (d->items[i].bind.field == tag)
            return static_cast<int>(i);
    }
    return -1;
}

int vokGetIndexFromId(HVOKDLG d, int controlId) {
    return d ? IndexFromId(d, controlId) : -1;
}

int vokGetIndexFromHandle(HVOKDLG d) {
    return d ? d->current : -1;
}

int vokGetItemInfo(HVOKDLG d, int index, int what) {
    if (!d || (index = ResolveIndex(d, index)) < 0)
        return -1;
    const VokItem& item = d->items[static_cast<std::size_t>(index)];
    switch (what) {
    case 1:
        return item.desc.itemType;
    case 2:
        return item.desc.controlId;
    default:
        return -1;
    }
}

int vokGetProperty(HVOKDLG d, int index, int what, char* buf, int size) {
    if (!d || !buf || size <= 0 || (index = ResolveIndex(d, index)) < 0)
        return -1;
    buf[0] = '\0';
    if (what != 2)
        return -1;
    const std::string& text = d->items[static_cast<std::size_t>(index)].bind.callbackText;
    const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

int vokSetAccess(HVOKDLG d, int index, int access) {
    if (access != VOK_ACCESS_DISABLED && access != VOK_ACCESS_ENABLED)
        return -1;
    std::unique_lock<std::mutex> guard(g_liveLock);
    if (!d || !IsLive(d) || (index = ResolveIndex(d, index)) < 0)
        return -1;
    if (GetCurrentThreadId() != d->thread) {
        // Never wait for the dialog thread: it may be waiting for this one.
        return PostMessageA(d->wnd, kMsgAccess, static_cast<WPARAM>(index), access) ? 0 : -1;
    }
    guard.unlock();
    ApplyAccess(d, index, access == VOK_ACCESS_ENABLED);
    return 0;
}

int vokSetItem(HVOKDLG d, int index, const char* text, int length) {
    std::string value;
    if (text)
        value = length < 0 ? std::string(text)
                           : std::string(text, strnlen(text, static_cast<std::size_t>(length)));
    std::unique_lock<std::mutex> guard(g_liveLock);
    if (!d || !IsLive(d) || (index = ResolveIndex(d, index)) < 0)
        return -1;
    VokItem& item = d->items[static_cast<std::size_t>(index)];
    const bool stored = item.bind.keepsText;
    if (GetCurrentThreadId() != d->thread) {
        // The store's watcher brings the text to the dialog thread.
        if (!stored)
            return -1;
        quorSetString(d->store, item.bind.field.c_str(), value.c_str());
        return 0;
    }
    guard.unlock();
    if (stored)
        quorSetString(d->store, item.bind.field.c_str(), value.c_str());
    CallItem(d, index, VOK_SETVALUE, 0, reinterpret_cast<intptr_t>(value.c_str()));
    // Paint it now: the caller often goes on working on this thread (the port
    // scan under "Scanning Ports..."), and an edit control only marks itself
    // for repainting, so the text would not appear before the work is done.
    if (item.wnd)
        UpdateWindow(item.wnd);
    return 0;
}

void* vokCtlMemAlloc(HVOKDLG d, int size) {
    if (!d || d->current < 0 || size <= 0)
        return nullptr;
    VokItem& item = d->items[static_cast<std::size_t>(d->current)];
    std::free(item.mem);
    item.mem = std::calloc(1, static_cast<std::size_t>(size));
    return item.mem;
}

void* vokCtlMemRetrieve(HVOKDLG d) {
    if (!d || d->current < 0)
        return nullptr;
    return d->items[static_cast<std::size_t>(d->current)].mem;
}

int vokTableGetSelection(HVOKDLG d, int index) {
    if (!d || (index = ResolveIndex(d, index)) < 0)
        return -1;
    const VokItem& item = d->items[static_cast<std::size_t>(index)];
    if (item.desc.itemType != zav::kItemTable || !item.wnd)
        return -1;
    const LRESULT sel = SendMessageA(item.wnd, LB_GETCURSEL, 0, 0);
    return sel == LB_ERR ? -1 : static_cast<int>(sel);
}

int vokTableGetField(HVOKDLG d, int index, int row, int column, char* buf, int size) {
    if (!buf || size <= 0)
        return -1;
    buf[0] = '\0';
    if (!d || (index = ResolveIndex(d, index)) < 0)
        return -1;
    const VokItem& item = d->items[static_cast<std::size_t>(index)];
    if (item.desc.itemType != zav::kItemTable)
        return -1;
    return quorTableGetField(d->store, item.bind.field.c_str(), row, column, buf, size);
}
