// The dialog engine on a test dialog of its own (engine_test.rc). The dialog
// runs on the test's main thread; a driver thread reads and works its
// controls, with bounded waits, the way a user and the capture thread would.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/quor.h"
#include "host/trel.h"
#include "host/vok.h"

namespace {

struct Seen {
    std::mutex lock;
    std::vector<int> fieldMessages;
    int setupControlId = 0;
    std::string setupProperty;
    void* setupBlock = nullptr;
    bool blockKept = false;
    int procCalls = 0;
    HWND procWindow = nullptr;
    HQUOR procStore = nullptr;
    std::string procSawName;
    std::string statusWhileFilling;
    bool statusPaintedWhileFilling = false;
};
Seen g_seen;

template <class F> bool WaitFor(F condition, int ms = 5000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (!condition()) {
        if (static_cast<int>(GetTickCount() - end) > 0)
            return false;
        Sleep(20);
    }
    return true;
}

std::string Text(HWND wnd) {
    char buf[512] = {};
    // WM_GETTEXT is answered by the dialog thread, which keeps pumping.
    SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL,
                        2000, nullptr);
    return buf;
}

std::string ListRow(HWND list, int row) {
    char buf[512] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 2000,
                        &n);
    return buf;
}

HWND WaitForDialog(const char* title, HWND notThis = nullptr) {
    HWND found = nullptr;
    WaitFor([&] {
        found = nullptr;
        for (HWND w = FindWindowExA(nullptr, nullptr, "vokDialog", title); w;
             w = FindWindowExA(nullptr, w, "vokDialog", title)) {
            if (w != notThis && IsWindowVisible(w))
                found = w;
        }
        return found != nullptr;
    });
    return found;
}

void Click(HWND dlg, int id) {
    PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

// Runs the dialog on this thread and the driver beside it. Whatever the
// driver does, the dialog is closed at the end so the test cannot hang.
int RunDialog(const char* name, HQUOR store, const std::function<void(HWND)>& driver,
              HQUOR presentation = quorOpen("EngineTestPresentation")) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        HWND dlg = WaitForDialog("Engine Test");
        if (dlg)
            driver(dlg);
        done = true;
        if (!WaitFor([&] { return !IsWindow(dlg); }, 3000)) {
            while (HWND w = FindWindowA("vokDialog", "Engine Test")) {
                PostMessageA(w, WM_CLOSE, 0, 0);
                Sleep(200);
            }
        }
    });
    const int result = vokDoDialog(nullptr, name, presentation, store);
    t.join();
    return result;
}

HQUOR FreshStore(const char* name) {
    HQUOR store = quorOpen(name);
    quorSetString(store, "Name", "alpha");
    quorSetString(store, "Flag", "1");
    quorSetString(store, "Shown", "shown text");
    quorSetString(store, "_Status", "");
    return store;
}

} // namespace

extern "C" __declspec(dllexport) std::intptr_t
    TEST_FillRows(HVOKDLG d, int message, std::intptr_t v1, std::intptr_t v2) {
    if (message == VOK_ATTACH) {
        // Like the port scan: a status text shows while the table fills.
        const int status = vokGetIndexFromTag(d, "_Status");
        vokSetItem(d, status, "Filling...", -1);
        HWND statusWnd = GetDlgItem(static_cast<HWND>(vokGetInfo(d, VOK_INFO_WINDOW)), 102);
        char shown[64] = {};
        GetWindowTextA(statusWnd, shown, sizeof shown);
        {
            std::lock_guard<std::mutex> guard(g_seen.lock);
            g_seen.statusWhileFilling = shown;
            // The scan keeps the thread busy: the text must be on screen already.
            g_seen.statusPaintedWhileFilling = !GetUpdateRect(statusWnd, nullptr, FALSE);
        }
        HTABLE t = tableCreate(2, 0);
        tableSetRow(t, TABLE_ROW_APPEND, "Com5\0ZAV Print", 15);
        tableSetRow(t, TABLE_ROW_APPEND, "Com12", 6);
        quorSetTable(static_cast<HQUOR>(vokGetInfo(d, VOK_INFO_TABLE_STORE)), "rows", t);
        tableDestroy(t);
        vokSetItem(d, status, "", -1);
    }
    return vokCtlDefProc(d, message, v1, v2);
}

extern "C" __declspec(dllexport) std::intptr_t
    TEST_Field(HVOKDLG d, int message, std::intptr_t v1, std::intptr_t v2) {
    std::lock_guard<std::mutex> guard(g_seen.lock);
    g_seen.fieldMessages.push_back(message);
    if (message == VOK_SETUP) {
        g_seen.setupControlId = vokGetItemInfo(d, VOK_CURRENT_INDEX, 2);
        char buf[128];
        vokGetProperty(d, vokGetIndexFromHandle(d), 2, buf, sizeof buf);
        g_seen.setupProperty = buf;
        g_seen.setupBlock = vokCtlMemAlloc(d, 16);
    } else if (message == VOK_ATTACH) {
        g_seen.blockKept = g_seen.setupBlock && vokCtlMemRetrieve(d) == g_seen.setupBlock;
    }
    return vokCtlDefProc(d, message, v1, v2);
}

extern "C" __declspec(dllexport) int TEST_Proc(VokWnd window, std::intptr_t, std::intptr_t,
                                               std::intptr_t, HQUOR store) {
    std::lock_guard<std::mutex> guard(g_seen.lock);
    ++g_seen.procCalls;
    g_seen.procWindow = static_cast<HWND>(window);
    g_seen.procStore = store;
    char buf[64];
    quorGetString(store, "Name", buf, sizeof buf);
    g_seen.procSawName = buf;
    return 1;
}

TEST(DialogEngine, ShowsStoreValuesAndKeepsEditsWhenClosed) {
    HQUOR store = FreshStore("EngineShow");
    std::string name, status, row0, row1, shown;
    bool checked = false, isEngineDialog = false, threadTextShown = false;
    HVOKDLG fromWindow = nullptr;
    const int result = RunDialog("=EngineTest", store, [&](HWND dlg) {
        WaitFor([&] { return SendMessageA(GetDlgItem(dlg, 104), LB_GETCOUNT, 0, 0) == 2; });
        name = Text(GetDlgItem(dlg, 101));
        checked = SendMessageA(GetDlgItem(dlg, 103), BM_GETCHECK, 0, 0) == BST_CHECKED;
        row0 = ListRow(GetDlgItem(dlg, 104), 0);
        row1 = ListRow(GetDlgItem(dlg, 104), 1);
        shown = Text(GetDlgItem(dlg, 105));
        fromWindow = vokDialogFromWindow(dlg);
        isEngineDialog = fromWindow && vokGetInfo(fromWindow, VOK_INFO_WINDOW) == dlg;

        // Another thread writes the status field through the store.
        quorSetString(store, "_Status", "Reading (42)");
        threadTextShown = WaitFor([&] { return Text(GetDlgItem(dlg, 102)) == "Reading (42)"; });
        status = Text(GetDlgItem(dlg, 102));

        SendMessageA(GetDlgItem(dlg, 101), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("beta"));
        Click(dlg, 103); // clears the check box
        WaitFor([&] { return SendMessageA(GetDlgItem(dlg, 103), BM_GETCHECK, 0, 0) == 0; });
        Click(dlg, 2); // its callback does not exist: the button still ends the dialog
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(name, "alpha");
    EXPECT_TRUE(checked);
    EXPECT_EQ(row0, "Com5     ZAV Print");
    EXPECT_EQ(row1, "Com12");
    EXPECT_EQ(shown, "shown text");
    EXPECT_TRUE(isEngineDialog);
    EXPECT_TRUE(threadTextShown) << status;
    {
        std::lock_guard<std::mutex> guard(g_seen.lock);
        EXPECT_EQ(g_seen.statusWhileFilling, "Filling...");
        EXPECT_TRUE(g_seen.statusPaintedWhileFilling);
    }

    char buf[64];
    quorGetString(store, "Name", buf, sizeof buf);
    EXPECT_STREQ(buf, "beta");
    quorGetString(store, "Flag", buf, sizeof buf);
    EXPECT_STREQ(buf, "0");
    // The read-only status field is never written back from its control.
    quorGetString(store, "_Status", buf, sizeof buf);
    EXPECT_STREQ(buf, "Reading (42)");

    std::lock_guard<std::mutex> guard(g_seen.lock);
    ASSERT_GE(g_seen.fieldMessages.size(), 3u);
    EXPECT_EQ(g_seen.fieldMessages.front(), VOK_SETUP);
    EXPECT_EQ(g_seen.fieldMessages[1], VOK_ATTACH);
    EXPECT_EQ(g_seen.fieldMessages.back(), VOK_RELEASE);
    EXPECT_EQ(g_seen.setupControlId, 105);
    EXPECT_EQ(g_seen.setupProperty, "=TEST_Field arg");
    EXPECT_TRUE(g_seen.blockKept);
}

TEST(DialogEngine, ButtonsWriteTheirFieldsFirstAndAccessFollowsOtherThreads) {
    HQUOR store = FreshStore("EngineButtons");
    bool procRan = false, disabled = false, menuGrey = false, enabledAgain = false,
         menuBack = false, stillOpen = false;
    const int result = RunDialog("EngineTest", store, [&](HWND dlg) {
        SendMessageA(GetDlgItem(dlg, 101), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
        Click(dlg, 1);
        procRan = WaitFor([&] {
            std::lock_guard<std::mutex> guard(g_seen.lock);
            return g_seen.procCalls == 1;
        });
        stillOpen = IsWindowVisible(dlg) != FALSE;

        // The capture thread makes a button unavailable and available again.
        HVOKDLG d = vokDialogFromWindow(dlg);
        const int apply = vokGetIndexFromId(d, 1);
        vokSetAccess(d, apply, VOK_ACCESS_DISABLED);
        HMENU menu = GetMenu(dlg);
        auto grey = [&] { return (GetMenuState(menu, 1, MF_BYCOMMAND) & MF_GRAYED) != 0; };
        disabled = WaitFor([&] { return !IsWindowEnabled(GetDlgItem(dlg, 1)); });
        menuGrey = WaitFor(grey);
        vokSetAccess(d, apply, VOK_ACCESS_ENABLED);
        enabledAgain = WaitFor([&] { return IsWindowEnabled(GetDlgItem(dlg, 1)) != FALSE; });
        menuBack = WaitFor([&] { return !grey(); });

        Click(dlg, 107);
    });
    EXPECT_EQ(result, 107);
    EXPECT_TRUE(procRan);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(disabled);
    EXPECT_TRUE(menuGrey);
    EXPECT_TRUE(enabledAgain);
    EXPECT_TRUE(menuBack);
    std::lock_guard<std::mutex> guard(g_seen.lock);
    EXPECT_EQ(g_seen.procSawName, "typed");
    EXPECT_EQ(g_seen.procStore, store);
    EXPECT_NE(g_seen.procWindow, nullptr);
}

TEST(DialogEngine, StackedDialogAndCloseBox) {
    HQUOR store = FreshStore("EngineStack");
    bool nestedShown = false, parentDisabled = false, parentBack = false;
    const int result = RunDialog("EngineTest", store, [&](HWND dlg) {
        Click(dlg, 108);
        HWND nested = WaitForDialog("Engine Test", dlg);
        nestedShown = nested != nullptr;
        parentDisabled = !IsWindowEnabled(dlg);
        if (nested)
            PostMessageA(nested, WM_CLOSE, 0, 0); // close box: acts like button 2
        parentBack = WaitFor([&] { return IsWindowEnabled(dlg) && !IsWindow(nested); });
        // Esc on the dialog itself.
        PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(nestedShown);
    EXPECT_TRUE(parentDisabled);
    EXPECT_TRUE(parentBack);
}

TEST(DialogEngine, MissingOrBrokenResourcesFail) {
    HQUOR store = quorOpen("EngineBroken");
    EXPECT_EQ(vokDoDialog(nullptr, "=NoSuchDialog", nullptr, store), -1);
    EXPECT_EQ(vokDoDialog(nullptr, "=Broken", nullptr, store), -1);
    EXPECT_EQ(vokDialogFromWindow(GetDesktopWindow()), nullptr);
}

TEST(DialogEngine, OpensWhereItWasLeft) {
    HQUOR store = FreshStore("EnginePlace");
    HQUOR presentation = quorOpen("EnginePlacePresentation");
    trelSetDialogPos(presentation, "=EngineTest", 40, 30);
    RECT shown{};
    const int result = RunDialog(
        "=EngineTest", store,
        [&](HWND dlg) {
            GetWindowRect(dlg, &shown);
            SetWindowPos(dlg, nullptr, 90, 70, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            WaitFor([&] {
                RECT r{};
                GetWindowRect(dlg, &r);
                return r.left == 90;
            });
            Click(dlg, 107);
        },
        presentation);
    EXPECT_EQ(result, 107);
    EXPECT_EQ(shown.left, 40);
    EXPECT_EQ(shown.top, 30);
    int x = 0, y = 0;
    ASSERT_EQ(trelGetDialogPos(presentation, "ENGINETEST", &x, &y), 1);
    EXPECT_EQ(x, 90);
    EXPECT_EQ(y, 70);
}

TEST(DialogEngine, AcceleratorsReachOnlyTheControlsThatCarryTheirCommand) {
    HQUOR store = FreshStore("EngineKeys");
    bool openAfterF6 = false;
    const int result = RunDialog("EngineTest", store, [&](HWND dlg) {
        HWND edit = GetDlgItem(dlg, 101);
        PostMessageA(edit, WM_KEYDOWN, VK_F6, 0);
        PostMessageA(edit, WM_KEYUP, VK_F6, 0xC0000000);
        Sleep(300);
        openAfterF6 = IsWindowVisible(dlg) != FALSE;
        PostMessageA(edit, WM_KEYDOWN, VK_F5, 0);
        PostMessageA(edit, WM_KEYUP, VK_F5, 0xC0000000);
    });
    EXPECT_TRUE(openAfterF6);
    EXPECT_EQ(result, 107);
}
