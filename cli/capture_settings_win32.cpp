#include <cstdlib>

#include "base/utf8_names.h"
#include "cli/capture_settings.h"

namespace zav {

std::string CaptureSettingsPath() {
    // The user's roaming application data, as UTF-16: it may hold any name.
    const wchar_t* data = _wgetenv(L"APPDATA");
    if (data == nullptr || data[0] == L'\0')
        return {};
    return Utf8OfWide(data) + "\\zavprint\\capture.conf";
}

} // namespace zav
