// The View button: opens the current capture's report in the browser that
// Windows has registered for web addresses.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/capture_names.h"
#include "host/exports.h"
#include "host/quor.h"
#include "host/vok.h"
#include "report/browser.h"
#include "report/viewer.h"

namespace zav {

bool OpenInBrowser(const char* path) {
    char command[kPathBufferSize];
    command[0] = '\0';
    LONG size = sizeof command;
    std::optional<std::string_view> registered;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", command, &size) ==
        ERROR_SUCCESS) {
        command[sizeof command - 1] = '\0';
        registered = command;
    }
    std::optional<std::string> line = ComposeBrowserCommand(registered, path);
    // WinExec gives 32 or more when the program started.
    return line && WinExec(line->c_str(), SW_SHOW) > 31;
}

} // namespace zav

ZAV_EXPORT int DP_View(VokWnd window, std::intptr_t, std::intptr_t, std::intptr_t, HQUOR store) {
    char folder[zav::kPathBufferSize] = "";
    char name[zav::kPathBufferSize] = "";
    quorGetString(store, "CaptureFolder", folder, sizeof folder);
    quorGetString(store, "CaptureFilename", name, sizeof name);
    zav::CaptureNames names;
    if (zav::CaptureNames::Make(folder, name, names) != zav::kBasePathOk)
        return 1;
    const std::string report = names.Report();
    if (!zav::OpenInBrowser(report.c_str()))
        vokDoMessageFmt(window, MB_OK | MB_ICONERROR, "ZAV Print Utility",
                        "The web browser could not be started to show %s", report.c_str());
    return 1;
}
