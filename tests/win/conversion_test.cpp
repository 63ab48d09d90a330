// Conversion mode of RUDIRAVU.exe: a capture file on the command line becomes
// the same page bitmap the native build writes, and no window shows.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "wine_path.h"

namespace {

const std::string kExe = WindowsPath(ZAV_RUDIRAVU_EXE);
const std::string kDir = WindowsPath(ZAV_CONVERSION_DIR);

struct ProgramRun {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    std::string visibleWindow; // title of a window the program showed
};

struct WindowSearch {
    DWORD pid;
    std::string* title;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window))
        return TRUE;
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    *search->title = title[0] ? title : "(untitled)";
    return FALSE;
}

// Runs the program with the argument text and watches its windows until it ends.
ProgramRun RunProgram(const std::string& arguments) {
    ProgramRun run;
    std::string commandLine = "RUDIRAVU.exe " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(kExe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi))
        return run;
    run.started = true;
    for (int waited = 0; waited < 60000; waited += 10) {
        WindowSearch search{pi.dwProcessId, &run.visibleWindow};
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (!run.visibleWindow.empty())
            break; // a message box would wait for ever: stop here
        if (WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) {
            run.finished = true;
            break;
        }
    }
    if (run.finished) {
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
    } else {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

bool ReadFile(const std::string& path, std::vector<char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::vector<std::string> CaptureNames() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((kDir + "\\win\\*.cpt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        names.push_back(name.substr(0, name.size() - 4));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

TEST(ConversionMode, WritesTheNativeBitmapsAndShowsNothing) {
    std::vector<std::string> names = CaptureNames();
    ASSERT_FALSE(names.empty()) << "no capture files in " << kDir << "\\win";
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string capture = kDir + "\\win\\" + name + ".cpt";
        const std::string bitmap = kDir + "\\win\\" + name + ".bmp";
        DeleteFileA(bitmap.c_str());

        ProgramRun run = RunProgram(capture);
        ASSERT_TRUE(run.started) << "cannot start " << kExe;
        EXPECT_EQ(run.visibleWindow, "");
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0u);

        std::vector<char> native;
        std::vector<char> windows;
        bool hasNative = ReadFile(kDir + "\\native\\" + name + ".bmp", native);
        bool hasWindows = ReadFile(bitmap, windows);
        ASSERT_EQ(hasWindows, hasNative);
        EXPECT_TRUE(windows == native) << "the bitmaps differ";
    }
}

TEST(ConversionMode, MissingCaptureEndsQuietlyWithAFailureStatus) {
    ProgramRun run = RunProgram(kDir + "\\win\\no-such-capture.cpt");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.visibleWindow, "");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(GetFileAttributesA((kDir + "\\win\\no-such-capture.bmp").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

} // namespace

namespace {

// The watch above must see a window when the program shows one: "/d" with a
// Monitor number is refused with a message box before any host contact.
TEST(StartUp, DebugSwitchWithOtherArgumentsShowsTheRefusal) {
#ifdef ZAV_WINE_PATHS
    if (GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0)
        GTEST_SKIP() << "Wine shows windows only with an X display (run under xvfb-run)";
#endif
    ProgramRun run = RunProgram("/d /m:5");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.visibleWindow, "ERROR");
    EXPECT_FALSE(run.finished);
}

} // namespace
