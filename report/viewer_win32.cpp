// The View button: opens the current capture's report in the browser that
// Windows has registered for web addresses.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/capture_names.h"
#include "base/utf8_names.h"
#include "host/exports.h"
#include "host/quor.h"
#include "host/vok.h"
#include "report/browser.h"
#include "report/viewer.h"

namespace zav {

bool OpenInBrowser(const char* path) {
    // Read and started in UTF-16, so that a report in a folder named in any
    // language reaches the browser as it is.
    wchar_t command[kPathBufferSize];
    command[0] = L'\0';
    LONG size = sizeof command;
    std::optional<std::string> registered;
    if (RegQueryValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", command, &size) ==
        ERROR_SUCCESS) {
        command[kPathBufferSize - 1] = L'\0';
        registered = Utf8OfWide(command);
    }
    std::optional<std::string> line = ComposeBrowserCommand(registered, path);
    if (!line)
        return false;
    std::wstring wide = WideOf(*line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

} // namespace zav

ZAV_EXPORT int DP_View(VokWnd window, std::intptr_t, std::intptr_t, std::intptr_t, HQUOR store) {
    char folder[zav::kPathBufferSize] = "";
    char name[zav::kPathBufferSize] = "";
    quorGetString(store, "CaptureFolder", folder, sizeof folder);
    quorGetString(store, "CaptureFilename", name, sizeof name);
    zav::CaptureNames names;
    if (zav::CaptureNames::Make(zav::Utf8OfAnsi(folder), zav::Utf8OfAnsi(name), names) !=
        zav::kBasePathOk)
        return 1;
    const std::string report = names.Report();
    if (!zav::OpenInBrowser(report.c_str()))
        vokDoMessageFmt(window, MB_OK | MB_ICONERROR, "ZAV Print Utility",
                        "The web browser could not be started to show %s",
                        zav::AnsiOfUtf8(report).c_str());
    return 1;
}
