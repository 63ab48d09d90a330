// RUDIRAVU.exe: the Windows program. Reads its command line, connects to the
// host, opens the presentation and value stores, creates the dialog engine's
// base window and runs the main procedure; the exit handler takes the module
// out of the host again.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/cmdline.h"
#include "app/mainproc.h"
#include "host/exports.h"
#include "host/quor.h"
#include "host/trel.h"
#include "host/vok.h"

namespace {

// Module-wide state: set up by the entry, read by the exit handler.
struct Module {
    zav::CommandLine line;
    MonApplHandle appl;
    HINSTANCE instance = nullptr;
    DWORD threadId = 0;
    VokWnd baseWindow = nullptr;
    HQUOR presentation = nullptr;
    char sharedStore[kMonQuorNameSize] = {};
    std::intptr_t switchToMenu = 0;
    std::intptr_t hideMenu = 0;
};

Module gModule;

// Profile line of "/d": read into more room than the command-line buffer so
// that an over-long value is refused, not cut.
std::string_view ReadProfileCommandLine(void*) {
    static char value[4 * zav::kCommandLineSize];
    DWORD n = GetProfileStringA("Monitor", "CmdLine", "", value, sizeof value);
    return std::string_view(value, n);
}

void ExitHandler() {
    if (gModule.baseWindow) {
        DestroyWindow(static_cast<HWND>(gModule.baseWindow));
        gModule.baseWindow = nullptr;
    }
    if (gModule.switchToMenu)
        trelUnregisterSwitchToMenu(gModule.switchToMenu);
    if (gModule.hideMenu)
        trelUnregisterHideMenu(gModule.hideMenu);
    if (gModule.presentation) {
        trelSaveDialogXY(gModule.presentation);
        quorClose(gModule.presentation);
        gModule.presentation = nullptr;
    }
    monQuitAppl(gModule.appl);
}

int RunModuleBody(VokWnd base) {
    zav::PrependMainProcedure(gModule.line);
    HQUOR store =
        gModule.sharedStore[0] ? quorOpenShared(gModule.sharedStore) : quorOpen("appmain:Perm");
    int result = -1;
    if (store) {
        result = zav::MainProcedure(base, gModule.line.argc, gModule.line.argv,
                                    gModule.presentation, store);
        quorClose(store);
    }
    if (result == -1)
        vokDoMessage(base, MB_ICONERROR, "Startup", "Application failure");
    return result;
}

} // namespace

// The application handle for the host: the Monitor number (32 bits), then the
// application number (16 bits).
ZAV_EXPORT int appGethAppl(void* record) {
    if (record) {
        auto* out = static_cast<unsigned char*>(record);
        std::memcpy(out, &gModule.appl.monitor, sizeof gModule.appl.monitor);
        std::memcpy(out + sizeof gModule.appl.monitor, &gModule.appl.application,
                    sizeof gModule.appl.application);
    }
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    gModule.threadId = GetCurrentThreadId();
    gModule.instance = instance;
    gModule.appl = MonApplHandle{};
    gModule.baseWindow = nullptr;

    switch (zav::PrepareCommandLine(gModule.line, commandLine ? commandLine : "",
                                    ReadProfileCommandLine, nullptr)) {
    case zav::StartupAction::Proceed:
        break;
    case zav::StartupAction::AskDebugging:
        if (MessageBoxA(nullptr, zav::kDebugQuestion, zav::kDebugQuestionTitle,
                        MB_YESNO | MB_ICONQUESTION) == IDNO)
            return 0;
        break;
    case zav::StartupAction::DebugNotAlone:
        MessageBoxA(nullptr, zav::kDebugNotAlone, zav::kDebugNotAloneTitle, MB_ICONERROR);
        return 0;
    case zav::StartupAction::TooLong:
        MessageBoxA(nullptr, zav::kCommandLineTooLong, zav::kCommandLineTooLongTitle, MB_ICONERROR);
        return 0;
    }
    gModule.appl.monitor = gModule.line.monitor;
    gModule.appl.application = gModule.line.application;

    monStartAppl(gModule.appl, gModule.threadId, gModule.instance, 0);
    gModule.presentation = quorOpen("TrelMain:Trel");
    if (gModule.presentation)
        trelGetDialogXY(gModule.presentation);
    monGetQuorName(gModule.appl, gModule.sharedStore);
    gModule.switchToMenu = trelRegisterSwitchToMenu();
    gModule.hideMenu = trelRegisterHideMenu();
    std::atexit(ExitHandler);

    gModule.baseWindow = vokCreateBaseWnd(0, 0, gModule.presentation);
    const int result = RunModuleBody(gModule.baseWindow);
    vokDestroyBaseWnd(gModule.baseWindow);
    gModule.baseWindow = nullptr;
    // A conversion that failed says so to the script that ran it.
    std::exit(result == zav::kConversionFailed ? 1 : 0);
}
