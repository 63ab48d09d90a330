// The bitmap loader and the bitmap field on Windows (under Wine in the cross
// build): pictures made by the tests, loaded by name and shown in a dialog of
// the test's own (bitmapfield_test.rc) run by the dialog engine.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "bitmap/loadbitmap_win32.h"
#include "bmp_maker.h"
#include "host/quor.h"
#include "host/vok.h"

extern "C" std::intptr_t BitmapFld(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2);
extern "C" LRESULT CALLBACK BitmapWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace {

using zavtest::BmpShape;
using zavtest::MakeBmp;

const HPALETTE kUntouched = reinterpret_cast<HPALETTE>(static_cast<std::intptr_t>(-7));

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/") + 1);
}

std::string TempFolder() {
    char path[MAX_PATH] = {};
    GetTempPathA(sizeof path, path);
    std::string dir = std::string(path) + "zavbitmaptest\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Colour of pixel (x, y) of a loaded bitmap, as 0xRRGGBB.
std::uint32_t PixelOf(HBITMAP bmp, int x, int y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    const COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

SIZE SizeOf(HBITMAP bmp) {
    BITMAP bm{};
    GetObjectA(bmp, sizeof bm, &bm);
    return {bm.bmWidth, bm.bmHeight};
}

int PaletteEntries(HPALETTE pal) {
    WORD n = 0;
    return pal && GetObjectA(pal, sizeof n, &n) ? n : -1;
}

// Colour i of the test pictures' tables is (i, 2i, 3i).
std::uint32_t TableColour(std::uint32_t i) {
    return (i & 0xFF) << 16 | ((2 * i) & 0xFF) << 8 | ((3 * i) & 0xFF);
}

// logo.bmp: 8 bits, biClrUsed 64, a gap before the rows, every pixel colour 40.
const BmpShape kLogo{
    .width = 40, .height = 30, .bitCount = 8, .clrUsed = 64, .colours = 64, .gap = 24, .fill = 40};

TEST(LoadBitmap, HeadersBitCountsAndPalettes) {
    const std::string dir = TempFolder();
    struct Case {
        const char* what;
        BmpShape shape;
        int paletteEntries; // -1: none
        std::uint32_t pixel;
    };
    const Case cases[] = {
        {"24-bit, no palette",
         {.width = 5, .height = 3, .bitCount = 24, .fill = 0x33},
         -1,
         0x333333},
        {"8-bit, biClrUsed 16",
         {.bitCount = 8, .clrUsed = 16, .colours = 16, .fill = 5},
         16,
         TableColour(5)},
        {"rows after a gap", kLogo, 64, TableColour(40)},
        {"1-bit page", {.width = 33, .bitCount = 1, .colours = 2, .fill = 0xFF}, 2, TableColour(1)},
        {"4-bit", {.bitCount = 4, .colours = 16, .fill = 0x77}, 16, TableColour(7)},
        {"core header",
         {.headerSize = 12, .bitCount = 4, .colours = 16, .fill = 0x99},
         16,
         TableColour(9)},
        {"108-byte header",
         {.headerSize = 108, .bitCount = 8, .colours = 256, .fill = 77},
         256,
         TableColour(77)},
        {"124-byte header", {.headerSize = 124, .bitCount = 24, .fill = 0x44}, -1, 0x444444},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir + "case.bmp";
        Write(path, MakeBmp(c.shape));
        HPALETTE pal = kUntouched;
        HBITMAP bmp = zav::LoadBitmapByExtension(path.c_str(), &pal);
        ASSERT_TRUE(bmp);
        EXPECT_EQ(SizeOf(bmp).cx, c.shape.width);
        EXPECT_EQ(SizeOf(bmp).cy, c.shape.height);
        EXPECT_EQ(PixelOf(bmp, 0, 0), c.pixel);
        if (c.paletteEntries < 0)
            EXPECT_EQ(pal, nullptr);
        else
            EXPECT_EQ(PaletteEntries(pal), c.paletteEntries);
        DeleteObject(bmp);
        if (pal)
            DeleteObject(pal);
    }
}

TEST(LoadBitmap, NamesAndBrokenFilesGiveNoBitmap) {
    const std::string dir = TempFolder();
    const auto good = MakeBmp({.bitCount = 24});
    for (const char* name : {"PAGE.BMP", "x.Bpt"}) {
        Write(dir + name, good);
        HPALETTE pal = kUntouched;
        HBITMAP bmp = zav::LoadBitmapByExtension((dir + name).c_str(), &pal);
        EXPECT_TRUE(bmp) << name;
        DeleteObject(bmp);
    }
    for (const char* name : {"x.bmpx", "x.dib", "nodot"}) {
        Write(dir + name, good);
        HPALETTE pal = kUntouched;
        EXPECT_FALSE(zav::LoadBitmapByExtension((dir + name).c_str(), &pal)) << name;
        EXPECT_EQ(pal, kUntouched);
    }
    auto shortRows = good;
    shortRows.pop_back();
    auto wideTable = MakeBmp({.bitCount = 8, .clrUsed = 65535, .colours = 16});
    const std::vector<std::uint8_t> tiny{'B', 'M', 1, 2, 3};
    for (const std::vector<std::uint8_t>* bytes :
         std::vector<const std::vector<std::uint8_t>*>{&shortRows, &wideTable, &tiny}) {
        Write(dir + "broken.bmp", *bytes);
        HPALETTE pal = kUntouched;
        EXPECT_FALSE(zav::LoadBitmapByExtension((dir + "broken.bmp").c_str(), &pal));
        EXPECT_EQ(pal, kUntouched);
    }
    HPALETTE pal = kUntouched;
    EXPECT_FALSE(zav::LoadBitmapByExtension((dir + "missing.bmp").c_str(), &pal));
    EXPECT_FALSE(zav::LoadBitmapByExtension("", &pal));
    EXPECT_FALSE(zav::LoadBitmapByExtension(nullptr, &pal));
    EXPECT_EQ(pal, kUntouched);
}

TEST(LoadBitmap, ABareNameIsFoundBesideTheProgramFromAnyFolder) {
    Write(ProgramFolder() + "zav_beside.bmp", MakeBmp({.bitCount = 24, .fill = 0x21}));
    const std::string dir = TempFolder();
    Write(dir + "zav_here.bmp", MakeBmp({.bitCount = 24, .fill = 0x42}));
    char saved[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof saved, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    HPALETTE pal = nullptr;
    HBITMAP beside = zav::LoadBitmapByExtension("zav_beside.bmp", &pal);
    HBITMAP here = zav::LoadBitmapByExtension("zav_here.bmp", &pal);
    SetCurrentDirectoryA(saved);
    ASSERT_TRUE(beside);
    ASSERT_TRUE(here);
    EXPECT_EQ(PixelOf(beside, 0, 0), 0x212121u);
    EXPECT_EQ(PixelOf(here, 0, 0), 0x424242u);
    DeleteObject(beside);
    DeleteObject(here);
    DeleteFileA((ProgramFolder() + "zav_beside.bmp").c_str());
}

// ---- the field in a dialog ---------------------------------------------------

struct FieldSeen {
    std::intptr_t value4 = -1, value0 = -1, afterMissing = -1, afterReload = -1;
    char buf[6] = {};
    WNDPROC procAfterFirst = nullptr, procAfterSecond = nullptr;
    HANDLE propAfterFirst = nullptr, propAfterSecond = nullptr;
    bool restoredAtRelease = false;
};
FieldSeen g_field;

HWND CurrentField(HVOKDLG d) {
    HWND dialog = static_cast<HWND>(vokGetInfo(d, VOK_INFO_WINDOW));
    return GetDlgItem(dialog, vokGetItemInfo(d, VOK_CURRENT_INDEX, 2));
}

template <class F> bool WaitFor(F condition, int ms = 5000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (!condition()) {
        if (static_cast<int>(GetTickCount() - end) > 0)
            return false;
        Sleep(20);
    }
    return true;
}

std::uint32_t ScreenPixel(HWND wnd, int x, int y) {
    HDC dc = GetDC(wnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(wnd, dc);
    return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

} // namespace

// BitmapFld with extra calls the engine itself never makes: message 3 twice,
// the value asked for into a short buffer, values handed in.
extern "C" __declspec(dllexport) std::intptr_t
    TEST_BitmapFld(HVOKDLG d, int message, std::intptr_t v1, std::intptr_t v2) {
    if (message == VOK_ATTACH) {
        const std::intptr_t r = BitmapFld(d, message, v1, v2);
        HWND wnd = CurrentField(d);
        g_field.procAfterFirst = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(wnd, GWLP_WNDPROC));
        g_field.propAfterFirst = GetPropA(wnd, "BMSHandle");
        BitmapFld(d, message, v1, v2);
        g_field.procAfterSecond = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(wnd, GWLP_WNDPROC));
        g_field.propAfterSecond = GetPropA(wnd, "BMSHandle");
        std::memset(g_field.buf, 'x', sizeof g_field.buf);
        g_field.value4 =
            BitmapFld(d, VOK_GETVALUE, 4, reinterpret_cast<std::intptr_t>(g_field.buf));
        g_field.value0 = BitmapFld(d, VOK_GETVALUE, 0, 0);
        BitmapFld(d, VOK_SETVALUE, 0, reinterpret_cast<std::intptr_t>("missing.bmp"));
        g_field.afterMissing = BitmapFld(d, VOK_GETVALUE, 0, 0);
        BitmapFld(d, VOK_SETVALUE, 0, reinterpret_cast<std::intptr_t>("_table nosuchtable"));
        BitmapFld(d, VOK_SETVALUE, 0, reinterpret_cast<std::intptr_t>("logo.bmp"));
        g_field.afterReload = BitmapFld(d, VOK_GETVALUE, 0, 0);
        return r;
    }
    if (message == VOK_RELEASE) {
        HWND wnd = CurrentField(d);
        const std::intptr_t r = BitmapFld(d, message, v1, v2);
        g_field.restoredAtRelease =
            reinterpret_cast<WNDPROC>(GetWindowLongPtrA(wnd, GWLP_WNDPROC)) != &BitmapWndProc &&
            !GetPropA(wnd, "BMSHandle");
        return r;
    }
    return BitmapFld(d, message, v1, v2);
}

namespace {

TEST(BitmapField, ShowsCopiesAndReleasesItsPicture) {
    const std::string beside = ProgramFolder();
    Write(beside + "logo.bmp", MakeBmp(kLogo));
    Write(beside + "big.bmp", MakeBmp({.width = 200, .height = 200, .bitCount = 24, .fill = 0x80}));
    auto broken = MakeBmp(kLogo);
    broken.resize(broken.size() - 100);
    Write(beside + "broken.bmp", broken);
    DeleteFileA((beside + "nothere.bmp").c_str());

    std::atomic<bool> shown{false}, copied{false};
    std::uint32_t centre = 0, afterPaste = 0, background = 1, bigInside = 0, bigMargin = 0,
                  missingCentre = 0, brokenCentre = 0;
    SIZE clip{};
    std::thread driver([&] {
        HWND dlg = nullptr;
        WaitFor([&] {
            return (dlg = FindWindowA("vokDialog", "Bitmap Field Test")) && IsWindowVisible(dlg);
        });
        if (!dlg)
            return;
        Sleep(500);
        HWND field = GetDlgItem(dlg, 1002);
        RECT rc{};
        GetClientRect(field, &rc);
        centre = ScreenPixel(field, rc.right / 2, rc.bottom / 2);
        background = ScreenPixel(field, 1, 1); // the margin: the control's own
        bigInside = ScreenPixel(GetDlgItem(dlg, 1003), 2, 2);
        bigMargin = ScreenPixel(GetDlgItem(dlg, 1003), 1, 1);
        RECT mr{};
        GetClientRect(GetDlgItem(dlg, 1004), &mr);
        missingCentre = ScreenPixel(GetDlgItem(dlg, 1004), mr.right / 2, mr.bottom / 2);
        brokenCentre = ScreenPixel(GetDlgItem(dlg, 1005), mr.right / 2, mr.bottom / 2);
        shown = true;
        // Ctrl+C in the field: the picture goes onto the clipboard.
        SendMessageTimeoutA(field, WM_CHAR, 3, 0, SMTO_NORMAL, 5000, nullptr);
        if (OpenClipboard(nullptr)) {
            if (HBITMAP b = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP))) {
                clip = SizeOf(b);
                copied = true;
            }
            CloseClipboard();
        }
        // Ctrl+V with a picture on the clipboard takes the file again: the
        // picture as the file holds it now.
        BmpShape changed = kLogo;
        changed.fill = 41;
        Write(beside + "logo.bmp", MakeBmp(changed));
        SendMessageTimeoutA(field, WM_CHAR, 22, 0, SMTO_NORMAL, 5000, nullptr);
        Sleep(300);
        afterPaste = ScreenPixel(field, rc.right / 2, rc.bottom / 2);
        PostMessageA(GetDlgItem(dlg, 2), BM_CLICK, 0, 0);
        if (!WaitFor([&] { return !IsWindow(dlg); }))
            PostMessageA(dlg, WM_CLOSE, 0, 0);
    });
    HQUOR store = quorOpen("BitmapFieldTest");
    const int result =
        vokDoDialog(nullptr, "=BitmapTest", quorOpen("BitmapFieldTestPositions"), store);
    driver.join();
    EXPECT_EQ(result, 2);
    ASSERT_TRUE(shown);
    // Drawn over the control, at its own size in the middle.
    EXPECT_EQ(centre, TableColour(40));
    // Larger than its field: its middle inside a 2-pixel margin.
    EXPECT_EQ(bigInside, 0x808080u);
    EXPECT_NE(bigMargin, 0x808080u);
    // No picture: the control as it is.
    EXPECT_NE(background, TableColour(40));
    EXPECT_EQ(missingCentre, background);
    EXPECT_EQ(brokenCentre, background);
    EXPECT_TRUE(copied);
    EXPECT_EQ(clip.cx, kLogo.width);
    EXPECT_EQ(clip.cy, kLogo.height);
    EXPECT_EQ(afterPaste, TableColour(41));
    // Attached once: the second message 3 changed nothing.
    EXPECT_EQ(g_field.procAfterFirst, &BitmapWndProc);
    EXPECT_EQ(g_field.procAfterSecond, &BitmapWndProc);
    EXPECT_NE(g_field.propAfterFirst, nullptr);
    EXPECT_EQ(g_field.propAfterSecond, g_field.propAfterFirst);
    EXPECT_EQ(g_field.value4, 4);
    EXPECT_EQ(std::string(g_field.buf, 5), "logox");
    EXPECT_EQ(g_field.value0, 8);
    EXPECT_EQ(g_field.afterMissing, 0);
    EXPECT_EQ(g_field.afterReload, 8);
    EXPECT_TRUE(g_field.restoredAtRelease);
    for (const char* f : {"logo.bmp", "big.bmp", "broken.bmp"})
        DeleteFileA((beside + f).c_str());
}

} // namespace
