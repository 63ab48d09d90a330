// The main procedure of the Windows program: the registry, the renderer, the
// cable search and the dialog engine behind RunMainProcedure.
#include "app/mainproc.h"

#include "app/message.h"
#include "app/settings.h"
#include "app/system.h"
#include "render/renderer.h"
#include "resources/resource.h"

#if ZAV_HAVE_CABLE_SEARCH
#include "capture/cable.h"
#endif

namespace zav {

namespace {

void RefuseSystem(VokWnd base) {
    vokDoMessageFmtEx(base, 0, IDS_APP_TITLE, IDS_UNSUPPORTED_SYSTEM);
}

#if !(ZAV_HAVE_CABLE_SEARCH && ZAV_HAVE_DIALOG_ENGINE)
// This build lacks the cable search or the dialog engine: say so instead of
// pretending that no cable is there.
constexpr char kNotBuiltText[] =
    "This build of ZAV Print Utility cannot look for the print cable and show its "
    "dialogs yet.\n\nIt converts a capture file named on its command line:\n"
    "RUDIRAVU.exe capture.cpt";
#endif

#if ZAV_HAVE_CABLE_SEARCH
int FindCable(HQUOR store) {
    return FindPrintCable(store);
}
#else
int FindCable(HQUOR) {
    return -1;
}
#endif

int DoDialog(VokWnd parent, const char* name, HQUOR presentation, HQUOR store) {
#if ZAV_HAVE_CABLE_SEARCH && ZAV_HAVE_DIALOG_ENGINE
    return vokDoDialog(parent, name, presentation, store);
#else
    (void)name;
    (void)presentation;
    (void)store;
    vokDoMessage(parent, 16, "ZAV Print Utility", kNotBuiltText);
    return 0; // ends the cable loop
#endif
}

} // namespace

int MainProcedure(VokWnd base, int argc, const char* const* argv, HQUOR presentation, HQUOR store) {
    static constexpr MainProcedureCalls kCalls{
        LoadSettings, SaveSettings, RenderCaptureFile, IsSupportedSystem,
        RefuseSystem, FindCable,    DoDialog,
    };
    return RunMainProcedure(kCalls, base, argc, argv, presentation, store);
}

} // namespace zav
