// The main procedure of the Windows program: the registry, the renderer, the
// cable search and the dialog engine behind RunMainProcedure.
#include "app/mainproc.h"

#include "app/message.h"
#include "app/settings.h"
#include "base/system.h"
#include "base/utf8_names.h"
#include "capture/cable.h"
#include "capture/session.h"
#include "host/vok.h"
#include "render/printout.h"
#include "resources/resource.h"

namespace zav {

namespace {

void RefuseSystem(VokWnd base) {
    vokDoMessageFmtEx(base, 0, IDS_APP_TITLE, IDS_UNSUPPORTED_SYSTEM);
}

int RenderWithChosenPrinter(const char* path, HQUOR store) {
    CaptureRenderer renderer(PrinterSetting(store));
    return renderer.Render(Utf8OfAnsi(path).c_str());
}

} // namespace

int MainProcedure(VokWnd base, int argc, const char* const* argv, HQUOR presentation, HQUOR store) {
    static constexpr MainProcedureCalls kCalls{
        LoadSettings,   SaveSettings, RenderWithChosenPrinter, IsSupportedSystem, RefuseSystem,
        FindPrintCable, vokDoDialog,
    };
    return RunMainProcedure(kCalls, base, argc, argv, presentation, store);
}

} // namespace zav
