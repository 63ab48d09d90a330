// The main procedure: settings in, then conversion of a capture file or the
// cable search and the main dialog, then settings out.
#pragma once

#include "host/quor.h"
#include "host/vok.h"

namespace zav {

// Button of "=CableNotFound" that asks to look for the cable again.
inline constexpr int kRetryButton = 4;

// What the main procedure calls out to; the Windows program passes the real
// ones (registry, renderer, cable search, dialog engine).
struct MainProcedureCalls {
    void (*loadSettings)(HQUOR store);
    bool (*saveSettings)(HQUOR store);
    int (*renderCaptureFile)(const char* path);
    bool (*isSupportedSystem)();
    // Tells the user that this operating system is not supported.
    void (*refuseSystem)(VokWnd base);
    // 1 when a print cable was found (and "Port1", "Ports", "Model" were set).
    int (*findPrintCable)(HQUOR store);
    int (*doDialog)(VokWnd parent, const char* name, HQUOR presentation, HQUOR store);
};

// What RunMainProcedure gives when the capture file of a conversion could not
// be rendered: the program then ends with exit status 1 and shows nothing.
inline constexpr int kConversionFailed = -2;

// argv[0] is "=MainProcedure"; argv[1], when argc > 1, a capture file to
// render without showing anything. Returns the main dialog's result, or 1
// after a conversion, a refused system or a cable search the user gave up;
// kConversionFailed after a conversion that failed; -1 means failure.
int RunMainProcedure(const MainProcedureCalls& calls, VokWnd base, int argc,
                     const char* const* argv, HQUOR presentation, HQUOR store);

// The main procedure of the Windows program, with the real calls.
int MainProcedure(VokWnd base, int argc, const char* const* argv, HQUOR presentation, HQUOR store);

} // namespace zav
