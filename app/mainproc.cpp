#include "app/mainproc.h"

namespace zav {

int RunMainProcedure(const MainProcedureCalls& calls, VokWnd base, int argc,
                     const char* const* argv, HQUOR presentation, HQUOR store) {
    calls.loadSettings(store);

    if (argc > 1 && argv && argv[1]) {
        // Conversion mode: nothing is shown and the settings stay as they were.
        return calls.renderCaptureFile(argv[1]) == 0 ? 1 : kConversionFailed;
    }

    int result = 1;
    if (!calls.isSupportedSystem()) {
        calls.refuseSystem(base);
    } else {
        for (;;) {
            if (calls.findPrintCable(store) == 1) {
                result = calls.doDialog(base, "=VOVEzera", presentation, store);
                break;
            }
            if (calls.doDialog(base, "=CableNotFound", presentation, store) != kRetryButton)
                break;
        }
    }

    calls.saveSettings(store);
    return result;
}

} // namespace zav
