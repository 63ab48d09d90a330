// The bitmap field: a dialog field whose callback text is "=BitmapFld FILE"
// shows the picture of FILE over its control. BitmapFld is the field's
// callback; BitmapWndProc replaces the control's window procedure, lets the
// control paint itself, draws the picture over it and reacts to Ctrl+C (the
// picture onto the clipboard) and Ctrl+V.
//
// Handles and procedures are kept in pointer-sized fields. Nothing here
// throws, so no exception reaches the dialog engine or Windows.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "bitmap/bitmap_field.h"
#include "bitmap/loadbitmap_win32.h"
#include "host/exports.h"
#include "host/quor.h"
#include "host/vok.h"
#include "host/vokbind.h"

ZAV_EXPORT std::intptr_t BitmapFld(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2);
ZAV_EXPORT LRESULT CALLBACK BitmapWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace {

constexpr int kFallbackBitmap = 115;
constexpr const char* kWindowProp = "BMSHandle";
constexpr const char* kNameProp = "FileHandle";

// Per-field block from vokCtlMemAlloc (zeroed there).
struct BitmapFieldRecord {
    HBITMAP picture;
    HPALETTE palette;
    HGLOBAL window; // BitmapWindowRecord, once the field window is attached
    HGLOBAL name;   // kBitmapNameSize bytes: the current file name
};

// Reachable from the field window through the property kWindowProp.
struct BitmapWindowRecord {
    HBITMAP picture;  // the field record's, not owned
    HPALETTE palette; // the field record's, not owned
    WNDPROC previous; // the control's own procedure
    int itemType;
};

template <class T> struct Locked {
    explicit Locked(HGLOBAL h) : handle(h), p(h ? static_cast<T*>(GlobalLock(h)) : nullptr) {}
    ~Locked() {
        if (p)
            GlobalUnlock(handle);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    HGLOBAL handle;
    T* p;
};

std::string NameOf(HGLOBAL block) {
    Locked<char> name(block);
    if (!name.p)
        return {};
    return std::string(name.p, strnlen(name.p, zav::kBitmapNameSize - 1));
}

void SetName(HGLOBAL block, const std::string& text) {
    Locked<char> name(block);
    if (!name.p)
        return;
    std::memset(name.p, 0, zav::kBitmapNameSize);
    std::memcpy(name.p, text.data(), std::min(text.size(), zav::kBitmapNameSize - 1));
}

HBITMAP ModuleBitmap(const char* name) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    HBITMAP b = name && *name ? LoadBitmapA(self, name) : nullptr;
    return b;
}

HBITMAP FallbackBitmap() {
    return LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kFallbackBitmap));
}

HWND FieldWindow(HVOKDLG dlg, int index) {
    HWND dialog = static_cast<HWND>(vokGetInfo(dlg, VOK_INFO_WINDOW));
    const int id = vokGetItemInfo(dlg, index, 2);
    return dialog && id >= 0 ? GetDlgItem(dialog, id) : nullptr;
}

void DeletePicture(BitmapFieldRecord& r) {
    if (r.picture)
        DeleteObject(r.picture);
    if (r.palette)
        DeleteObject(r.palette);
    r.picture = nullptr;
    r.palette = nullptr;
}

std::intptr_t SetUp(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    quorOpenShared("BitmapInfo");
    auto* r = static_cast<BitmapFieldRecord*>(vokCtlMemAlloc(dlg, sizeof(BitmapFieldRecord)));
    if (!r)
        return vokCtlDefProc(dlg, message, v1, v2);
    *r = BitmapFieldRecord{};
    char text[128] = {};
    vokGetProperty(dlg, vokGetIndexFromHandle(dlg), 2, text, sizeof text);
    const std::string file = zav::SplitCallbackText(text).argument;
    r->name = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, zav::kBitmapNameSize);
    HBITMAP picture = nullptr;
    HPALETTE palette = nullptr;
    if (!file.empty()) {
        picture = zav::LoadBitmapByExtension(file.c_str(), &palette);
        SetName(r->name, file);
    }
    if (!picture) {
        palette = nullptr;
        picture = ModuleBitmap(file.c_str());
        if (!picture)
            picture = FallbackBitmap();
        if (!picture)
            return 1;
    }
    r->picture = picture;
    r->palette = palette;
    return vokCtlDefProc(dlg, message, v1, v2);
}

std::intptr_t Release(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    if (auto* r = static_cast<BitmapFieldRecord*>(vokCtlMemRetrieve(dlg))) {
        if (r->window) {
            // The window outlives the field: give it back its own procedure
            // and forget the records before they go.
            HWND wnd = FieldWindow(dlg, vokGetIndexFromHandle(dlg));
            if (wnd && GetPropA(wnd, kWindowProp) == r->window) {
                Locked<BitmapWindowRecord> w(r->window);
                if (w.p && reinterpret_cast<WNDPROC>(GetWindowLongPtrA(wnd, GWLP_WNDPROC)) ==
                               &BitmapWndProc)
                    SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(w.p->previous));
                RemovePropA(wnd, kWindowProp);
                RemovePropA(wnd, kNameProp);
            }
            GlobalFree(r->window);
            r->window = nullptr;
        }
        DeletePicture(*r);
        if (r->name)
            GlobalFree(r->name);
        r->name = nullptr;
    }
    return vokCtlDefProc(dlg, message, v1, v2);
}

std::intptr_t Attach(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    auto* r = static_cast<BitmapFieldRecord*>(vokCtlMemRetrieve(dlg));
    const int index = vokGetIndexFromHandle(dlg);
    HWND wnd = FieldWindow(dlg, index);
    if (!r || !wnd || r->window)
        return vokCtlDefProc(dlg, message, v1, v2); // attached once only
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BitmapWindowRecord));
    if (!block)
        return vokCtlDefProc(dlg, message, v1, v2);
    {
        Locked<BitmapWindowRecord> w(block);
        if (!w.p) {
            GlobalFree(block);
            return vokCtlDefProc(dlg, message, v1, v2);
        }
        w.p->picture = r->picture;
        w.p->palette = r->palette;
        w.p->itemType = vokGetItemInfo(dlg, index, 1);
        w.p->previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(wnd, GWLP_WNDPROC));
    }
    r->window = block;
    // The properties first: the new procedure looks for them at once.
    SetPropA(wnd, kWindowProp, block);
    SetPropA(wnd, kNameProp, r->name);
    SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BitmapWndProc));
    // The engine shows the dialog before it attaches: paint once more, now
    // with the picture.
    InvalidateRect(wnd, nullptr, FALSE);
    return vokCtlDefProc(dlg, message, v1, v2);
}

std::intptr_t Redraw(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    const std::intptr_t result = vokCtlDefProc(dlg, message, v1, v2);
    HWND dialog = static_cast<HWND>(vokGetInfo(dlg, VOK_INFO_WINDOW));
    const int id = vokGetItemInfo(dlg, VOK_CURRENT_INDEX, 2);
    if (HWND ctl = dialog && id >= 0 ? GetDlgItem(dialog, id) : nullptr)
        RedrawWindow(ctl, nullptr, nullptr, RDW_INVALIDATE);
    return result;
}

std::intptr_t SetValue(HVOKDLG dlg, const char* text) {
    auto* r = static_cast<BitmapFieldRecord*>(vokCtlMemRetrieve(dlg));
    if (!r || !text || !*text)
        return 0;
    const zav::BitmapFieldValue value = zav::ParseBitmapFieldValue(text);
    std::string file = value.name;
    if (value.table) {
        const int table = vokGetIndexFromTag(dlg, value.name.c_str());
        if (table < 0)
            return 0;
        file.clear();
        const int row = vokTableGetSelection(dlg, table);
        char cell[256] = {};
        if (row >= 0 && vokTableGetField(dlg, table, row, 0, cell, sizeof cell) >= 0)
            file = cell;
    }
    HBITMAP picture = nullptr;
    HPALETTE palette = nullptr;
    if (!file.empty()) {
        picture = zav::LoadBitmapByExtension(file.c_str(), &palette);
        if (picture)
            SetName(r->name, file);
    }
    if (!picture) {
        if (palette)
            DeleteObject(palette);
        palette = nullptr;
        picture = FallbackBitmap();
        SetName(r->name, std::string());
    }
    if (!picture)
        return 0; // the old picture stays on display
    DeletePicture(*r);
    r->picture = picture;
    r->palette = palette;
    if (r->window) {
        Locked<BitmapWindowRecord> w(r->window);
        if (w.p) {
            w.p->picture = picture;
            w.p->palette = palette;
        }
        if (HWND wnd = FieldWindow(dlg, vokGetIndexFromHandle(dlg))) {
            RECT rc{};
            GetClientRect(wnd, &rc);
            InflateRect(&rc, -1, -1);
            InvalidateRect(wnd, &rc, FALSE);
        }
    }
    return 0;
}

LRESULT Paint(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, const BitmapWindowRecord& w) {
    HDC dc = GetDC(wnd);
    HDC mem = dc ? CreateCompatibleDC(dc) : nullptr;
    const LRESULT result = CallWindowProcA(w.previous, wnd, msg, wParam, lParam);
    if (!mem) {
        if (dc)
            ReleaseDC(wnd, dc);
        return result;
    }
    HPALETTE oldMemPal = nullptr, oldPal = nullptr;
    if (w.palette) {
        oldMemPal = SelectPalette(mem, w.palette, FALSE);
        RealizePalette(mem);
        oldPal = SelectPalette(dc, w.palette, FALSE);
        RealizePalette(dc);
    }
    HGDIOBJ oldBitmap = nullptr;
    BITMAP bm{};
    if (w.picture && GetObjectA(w.picture, sizeof bm, &bm)) {
        RECT rc{};
        GetClientRect(wnd, &rc);
        const auto style = static_cast<std::uint32_t>(GetWindowLongPtrA(wnd, GWL_STYLE));
        const zav::BitmapBlit b =
            zav::PlanBitmapPaint(w.itemType, style, rc.right, rc.bottom, bm.bmWidth, bm.bmHeight);
        oldBitmap = SelectObject(mem, w.picture);
        SetStretchBltMode(dc, COLORONCOLOR);
        if (!b.Empty()) {
            if (b.stretch)
                StretchBlt(dc, b.x, b.y, b.width, b.height, mem, 0, 0, bm.bmWidth, bm.bmHeight,
                           SRCCOPY);
            else
                BitBlt(dc, b.x, b.y, b.width, b.height, mem, b.srcX, b.srcY, SRCCOPY);
        }
    }
    if (oldBitmap)
        SelectObject(mem, oldBitmap);
    if (oldMemPal)
        SelectPalette(mem, oldMemPal, FALSE);
    if (oldPal)
        SelectPalette(dc, oldPal, FALSE);
    DeleteDC(mem);
    ReleaseDC(wnd, dc);
    return result;
}

void CopyPicture(HWND wnd) {
    const std::string name = NameOf(static_cast<HGLOBAL>(GetPropA(wnd, kNameProp)));
    if (!OpenClipboard(wnd))
        return;
    EmptyClipboard();
    HPALETTE palette = nullptr;
    if (HBITMAP picture = zav::LoadBitmapByExtension(name.c_str(), &palette)) {
        if (!SetClipboardData(CF_BITMAP, picture))
            DeleteObject(picture); // the clipboard did not take it
    }
    CloseClipboard();
    if (palette)
        DeleteObject(palette);
}

void PastePicture(HWND wnd) {
    if (!IsClipboardFormatAvailable(CF_BITMAP) || !OpenClipboard(wnd))
        return;
    HANDLE bitmap = GetClipboardData(CF_BITMAP);
    CloseClipboard();
    if (!bitmap)
        return;
    // The picture shown comes from its file: the field takes its file name
    // again, which reloads it.
    HVOKDLG dlg = vokDialogFromWindow(GetParent(wnd));
    if (!dlg)
        return;
    const int index = vokGetIndexFromId(dlg, GetDlgCtrlID(wnd));
    const std::string name = NameOf(static_cast<HGLOBAL>(GetPropA(wnd, kNameProp)));
    if (index >= 0)
        vokSetItem(dlg, index, name.c_str(), static_cast<int>(name.size()) + 1);
}

bool IsOwnerDrawButton(HWND wnd, int itemType) {
    return itemType == zav::kBitmapOnButton &&
           (static_cast<std::uint32_t>(GetWindowLongPtrA(wnd, GWL_STYLE)) & 0xFFFF) ==
               zav::kOwnerDrawStyle;
}

} // namespace

ZAV_EXPORT std::intptr_t BitmapFld(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    try {
        switch (message) {
        case VOK_SETUP:
            return SetUp(dlg, message, v1, v2);
        case VOK_RELEASE:
            return Release(dlg, message, v1, v2);
        case VOK_ATTACH:
            return Attach(dlg, message, v1, v2);
        case VOK_REDRAW1:
        case VOK_REDRAW2:
            return Redraw(dlg, message, v1, v2);
        case VOK_SETVALUE:
            return SetValue(dlg, reinterpret_cast<const char*>(v2));
        case VOK_GETVALUE: {
            auto* r = static_cast<BitmapFieldRecord*>(vokCtlMemRetrieve(dlg));
            const std::string name = r ? NameOf(r->name) : std::string();
            return zav::CopyBitmapFieldValue(name, reinterpret_cast<char*>(v2), v1);
        }
        default:
            return vokCtlDefProc(dlg, message, v1, v2);
        }
    } catch (...) {
        return 0;
    }
}

ZAV_EXPORT LRESULT CALLBACK BitmapWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    BitmapWindowRecord w{};
    {
        Locked<BitmapWindowRecord> found(static_cast<HGLOBAL>(GetPropA(wnd, kWindowProp)));
        if (found.p)
            w = *found.p;
    }
    if (!w.previous)
        return DefWindowProcA(wnd, msg, wParam, lParam);
    try {
        switch (msg) {
        case WM_PAINT:
            return Paint(wnd, msg, wParam, lParam, w);
        case WM_SETFOCUS:
            if (IsOwnerDrawButton(wnd, w.itemType))
                return Paint(wnd, msg, wParam, lParam, w);
            break;
        case WM_CHAR: {
            const LRESULT result = CallWindowProcA(w.previous, wnd, msg, wParam, lParam);
            if (wParam == 22)
                PastePicture(wnd);
            else if (wParam == 3)
                CopyPicture(wnd);
            return result;
        }
        case WM_NCDESTROY:
            // Gone before the field was released: leave no property behind.
            RemovePropA(wnd, kWindowProp);
            RemovePropA(wnd, kNameProp);
            SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(w.previous));
            break;
        case WM_CTLCOLORBTN:
            if (IsOwnerDrawButton(wnd, w.itemType))
                return 0;
            break;
        default:
            break;
        }
    } catch (...) {
        return 0;
    }
    return CallWindowProcA(w.previous, wnd, msg, wParam, lParam);
}
