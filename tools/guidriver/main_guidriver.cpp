// guidriver: finds a dialog by its title and works its controls by id, for
// the GUI tests. Commands run in order; the first that fails ends the run
// with exit code 1 and a line on stderr. Every wait is bounded.
//
//   wait TITLE [MS]        wait for a visible window with that title; it becomes current
//   gone TITLE [MS]        wait until no visible window has that title
//   waitfor TEXT [MS]      wait for a visible window with a control showing TEXT
//                          (a message box); it becomes current
//   settext ID TEXT        put TEXT into the control
//   text ID                print the control's text
//   expect ID TEXT [MS]    wait until the control shows TEXT (TEXT* : text beginning with TEXT)
//   click ID               press the button (posted, so a dialog it opens cannot block us)
//   checked ID             print 1 or 0
//   enabled ID             print 1 or 0
//   list ID                print the list box's rows, one a line
//   menu ID                choose the menu entry (or accelerator command) ID
//   close                  the close box
//   key ID VK              press the virtual key VK (a number) in the control
//   windows                print the titles of the visible top-level windows
//   children               print the current window's controls: id, class, text
//   shot FILE              save the current window as a 24-bit BMP
//   char ID CODE           send the character CODE (3 is Ctrl+C) to the control
//   clipbitmap             print the clipboard's bitmap size as WxH, or "none"
//   picture ID FILE        check that the control shows the picture FILE at its
//                          own size in the middle; prints its size as WxH
//   blank ID               check that the control's client area is one colour
//   sleep MS
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HWND g_current = nullptr;
constexpr int kDefaultWaitMs = 10000;

struct FindArgs {
    const char* title;
    HWND found;
};

BOOL CALLBACK FindByTitle(HWND wnd, LPARAM lp) {
    auto* args = reinterpret_cast<FindArgs*>(lp);
    char text[256] = {};
    if (IsWindowVisible(wnd) && GetWindowTextA(wnd, text, sizeof text) &&
        std::strcmp(text, args->title) == 0) {
        args->found = wnd; // the last one enumerated is the bottom-most: keep looking
        if (IsWindowEnabled(wnd))
            return FALSE; // an enabled one is the one on top of a stack
    }
    return TRUE;
}

HWND FindVisible(const char* title) {
    FindArgs args{title, nullptr};
    EnumWindows(FindByTitle, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

struct FindTextArgs {
    const char* text;
    HWND found;
};

BOOL CALLBACK ChildHasText(HWND child, LPARAM lp) {
    auto* args = reinterpret_cast<FindTextArgs*>(lp);
    char text[1024] = {};
    if (GetWindowTextA(child, text, sizeof text) && std::strcmp(text, args->text) == 0) {
        args->found = child;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindByChildText(HWND wnd, LPARAM lp) {
    auto* args = reinterpret_cast<FindTextArgs*>(lp);
    if (!IsWindowVisible(wnd))
        return TRUE;
    FindTextArgs child{args->text, nullptr};
    EnumChildWindows(wnd, ChildHasText, reinterpret_cast<LPARAM>(&child));
    if (child.found) {
        args->found = wnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindWithText(const char* text) {
    FindTextArgs args{text, nullptr};
    EnumWindows(FindByChildText, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

template <class F> bool WaitFor(F condition, int ms) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > static_cast<DWORD>(ms))
            return false;
        Sleep(50);
    }
    return true;
}

HWND Control(const char* id) {
    if (!g_current)
        return nullptr;
    return GetDlgItem(g_current, std::atoi(id));
}

std::string Text(HWND wnd) {
    char buf[2048] = {};
    SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL,
                        3000, nullptr);
    return buf;
}

bool SaveShot(HWND wnd, const char* path) {
    SetForegroundWindow(wnd);
    RedrawWindow(wnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    RECT r{};
    GetWindowRect(wnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    // The screen holds the caption too; a window's own DC may lack it.
    HDC src = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(src);
    HBITMAP bmp = CreateCompatibleBitmap(src, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    // What the window shows on screen; PrintWindow as a fallback.
    bool ok = BitBlt(mem, 0, 0, w, h, src, r.left, r.top, SRCCOPY) != FALSE;
    if (!ok)
        ok = PrintWindow(wnd, mem, 0) != FALSE;
    SelectObject(mem, old);

    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    std::vector<unsigned char> pixels(stride * static_cast<DWORD>(h));
    if (ok)
        ok = GetDIBits(mem, bmp, 0, static_cast<UINT>(h), pixels.data(),
                       reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS) == h;
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, src);
    if (!ok)
        return false;
    BITMAPFILEHEADER bfh{};
    bfh.bfType = 0x4D42;
    bfh.bfOffBits = sizeof bfh + sizeof bih;
    bfh.bfSize = bfh.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    ok = std::fwrite(&bfh, sizeof bfh, 1, f) == 1 && std::fwrite(&bih, sizeof bih, 1, f) == 1 &&
         std::fwrite(pixels.data(), pixels.size(), 1, f) == 1;
    return std::fclose(f) == 0 && ok;
}

// Colours of the control's client area as the screen shows them, row by row.
struct Screen {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

bool ReadClient(HWND ctl, Screen& out) {
    SetForegroundWindow(GetAncestor(ctl, GA_ROOT));
    RedrawWindow(ctl, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(300);
    RECT rc{};
    GetClientRect(ctl, &rc);
    POINT origin{0, 0};
    ClientToScreen(ctl, &origin);
    out.width = rc.right;
    out.height = rc.bottom;
    if (out.width <= 0 || out.height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, out.width, out.height);
    HGDIOBJ old = SelectObject(mem, bmp);
    const bool ok =
        BitBlt(mem, 0, 0, out.width, out.height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
    out.pixels.resize(static_cast<std::size_t>(out.width) * out.height);
    for (int y = 0; ok && y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            out.pixels[static_cast<std::size_t>(y) * out.width + x] = GetPixel(mem, x, y);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

// The picture file, loaded by Windows itself, against the control: every
// pixel of the picture where a centred copy at its own size puts it.
std::string ComparePicture(HWND ctl, const char* file) {
    HBITMAP pic = static_cast<HBITMAP>(
        LoadImageA(nullptr, file, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (!pic)
        return std::string("cannot load ") + file;
    BITMAP bm{};
    GetObjectA(pic, sizeof bm, &bm);
    Screen shown;
    std::string result;
    if (!ReadClient(ctl, shown)) {
        result = "cannot read the control";
    } else if (shown.width - 4 < bm.bmWidth || shown.height - 4 < bm.bmHeight) {
        result = "the control is smaller than the picture";
    } else {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, pic);
        const int x0 = (shown.width - bm.bmWidth) / 2, y0 = (shown.height - bm.bmHeight) / 2;
        long wrong = 0;
        for (int y = 0; y < bm.bmHeight; ++y)
            for (int x = 0; x < bm.bmWidth; ++x)
                wrong += GetPixel(dc, x, y) != shown.At(x0 + x, y0 + y);
        SelectObject(dc, old);
        DeleteDC(dc);
        if (wrong)
            result = std::to_string(wrong) + " pixels differ from the picture";
        else
            std::printf("%ldx%ld\n", static_cast<long>(bm.bmWidth), static_cast<long>(bm.bmHeight));
    }
    DeleteObject(pic);
    return result;
}

BOOL CALLBACK PrintTitle(HWND wnd, LPARAM) {
    char text[256] = {};
    if (IsWindowVisible(wnd) && GetWindowTextA(wnd, text, sizeof text))
        std::printf("%s\n", text);
    return TRUE;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    std::printf("%d %s \"%s\"\n", GetDlgCtrlID(child), cls, Text(child).c_str());
    return TRUE;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "guidriver: %s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    auto arg = [&](std::size_t i) -> const char* { return i < a.size() ? a[i].c_str() : ""; };
    auto waitMs = [&](std::size_t i) {
        return i < a.size() && std::atoi(a[i].c_str()) > 0 ? std::atoi(a[i].c_str())
                                                           : kDefaultWaitMs;
    };
    auto isNumber = [&](std::size_t i) {
        return i < a.size() && !a[i].empty() &&
               a[i].find_first_not_of("0123456789") == std::string::npos;
    };
    for (std::size_t i = 0; i < a.size();) {
        const std::string cmd = a[i];
        if (cmd == "wait") {
            const char* title = arg(i + 1);
            const int ms = isNumber(i + 2) ? waitMs(i + 2) : kDefaultWaitMs;
            if (!WaitFor([&] { return (g_current = FindVisible(title)) != nullptr; }, ms))
                return Fail(std::string("no window \"") + title + "\"");
            i += isNumber(i + 2) ? 3 : 2;
            continue;
        }
        if (cmd == "waitfor") {
            const char* text = arg(i + 1);
            const int ms = isNumber(i + 2) ? waitMs(i + 2) : kDefaultWaitMs;
            if (!WaitFor([&] { return (g_current = FindWithText(text)) != nullptr; }, ms))
                return Fail(std::string("no window showing \"") + text + "\"");
            i += isNumber(i + 2) ? 3 : 2;
            continue;
        }
        if (cmd == "gone") {
            const char* title = arg(i + 1);
            const int ms = isNumber(i + 2) ? waitMs(i + 2) : kDefaultWaitMs;
            if (!WaitFor([&] { return FindVisible(title) == nullptr; }, ms))
                return Fail(std::string("window \"") + title + "\" still there");
            i += isNumber(i + 2) ? 3 : 2;
            continue;
        }
        if (cmd == "sleep") {
            Sleep(static_cast<DWORD>(std::atoi(arg(i + 1))));
            i += 2;
            continue;
        }
        if (cmd == "windows") {
            EnumWindows(PrintTitle, 0);
            i += 1;
            continue;
        }
        if (!g_current || !IsWindow(g_current))
            return Fail(cmd + ": no current window");
        if (cmd == "close") {
            PostMessageA(g_current, WM_CLOSE, 0, 0);
            i += 1;
        } else if (cmd == "menu") {
            PostMessageA(g_current, WM_COMMAND, MAKEWPARAM(std::atoi(arg(i + 1)), 0), 0);
            i += 2;
        } else if (cmd == "clipbitmap") {
            SIZE size{};
            if (OpenClipboard(nullptr)) {
                BITMAP bm{};
                if (HANDLE b = GetClipboardData(CF_BITMAP); b && GetObjectA(b, sizeof bm, &bm))
                    size = {bm.bmWidth, bm.bmHeight};
                CloseClipboard();
            }
            if (size.cx)
                std::printf("%ldx%ld\n", size.cx, size.cy);
            else
                std::printf("none\n");
            i += 1;
        } else if (cmd == "children") {
            EnumChildWindows(g_current, PrintChild, 0);
            i += 1;
        } else if (cmd == "shot") {
            if (!SaveShot(g_current, arg(i + 1)))
                return Fail(std::string("cannot save ") + arg(i + 1));
            i += 2;
        } else {
            HWND ctl = Control(arg(i + 1));
            if (!ctl)
                return Fail(cmd + ": no control " + arg(i + 1));
            if (cmd == "settext") {
                SendMessageTimeoutA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(i + 2)),
                                    SMTO_NORMAL, 3000, nullptr);
                i += 3;
            } else if (cmd == "text") {
                std::printf("%s\n", Text(ctl).c_str());
                i += 2;
            } else if (cmd == "expect") {
                const std::string want = arg(i + 2);
                const int ms = isNumber(i + 3) ? waitMs(i + 3) : kDefaultWaitMs;
                // "TEXT*" takes any text that begins with TEXT.
                const bool prefix = !want.empty() && want.back() == '*';
                const std::string begin = prefix ? want.substr(0, want.size() - 1) : want;
                const auto shows = [&] {
                    const std::string text = Text(ctl);
                    return prefix ? text.compare(0, begin.size(), begin) == 0 : text == want;
                };
                if (!WaitFor(shows, ms))
                    return Fail("control " + a[i + 1] + " shows \"" + Text(ctl) + "\", not \"" +
                                want + "\"");
                i += isNumber(i + 3) ? 4 : 3;
            } else if (cmd == "click") {
                PostMessageA(ctl, BM_CLICK, 0, 0);
                i += 2;
            } else if (cmd == "char") {
                SendMessageTimeoutA(ctl, WM_CHAR, std::atoi(arg(i + 2)), 0, SMTO_NORMAL, 5000,
                                    nullptr);
                i += 3;
            } else if (cmd == "picture") {
                const std::string error = ComparePicture(ctl, arg(i + 2));
                if (!error.empty())
                    return Fail("control " + a[i + 1] + ": " + error);
                i += 3;
            } else if (cmd == "blank") {
                Screen shown;
                if (!ReadClient(ctl, shown))
                    return Fail("cannot read control " + a[i + 1]);
                for (COLORREF c : shown.pixels) {
                    if (c != shown.pixels.front())
                        return Fail("control " + a[i + 1] + " is not blank");
                }
                i += 2;
            } else if (cmd == "key") {
                const WPARAM vk = static_cast<WPARAM>(std::atoi(arg(i + 2)));
                PostMessageA(ctl, WM_KEYDOWN, vk, 1);
                PostMessageA(ctl, WM_KEYUP, vk, 0xC0000001);
                i += 3;
            } else if (cmd == "checked") {
                std::printf("%d\n", SendMessageA(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
                i += 2;
            } else if (cmd == "enabled") {
                std::printf("%d\n", IsWindowEnabled(ctl) ? 1 : 0);
                i += 2;
            } else if (cmd == "list") {
                const int n = static_cast<int>(SendMessageA(ctl, LB_GETCOUNT, 0, 0));
                for (int r = 0; r < n; ++r) {
                    // Wide: a list box in another process answers that one
                    // whole under Wine.
                    wchar_t wide[512] = {};
                    if (SendMessageW(ctl, LB_GETTEXTLEN, r, 0) < 511)
                        SendMessageW(ctl, LB_GETTEXT, r, reinterpret_cast<LPARAM>(wide));
                    char buf[1024] = {};
                    WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, nullptr, nullptr);
                    std::printf("%s\n", buf);
                }
                i += 2;
            } else {
                return Fail("unknown command " + cmd);
            }
        }
        std::fflush(stdout);
    }
    return 0;
}
