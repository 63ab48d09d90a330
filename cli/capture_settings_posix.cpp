#include <cstdlib>

#include "cli/capture_settings.h"

namespace zav {

std::string CaptureSettingsPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string config;
    if (xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !home[0])
            return {};
        config = std::string(home) + "/.config";
    }
    return config + "/zavprint/capture.conf";
}

} // namespace zav
