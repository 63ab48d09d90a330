#include "base/sys_error.h"

#include <cerrno>
#include <cstring>

namespace zav {

SystemError ErrnoError(int code) {
    if (code == 0)
        return {};
    return {code, std::strerror(code)};
}

SystemError LastErrnoError() {
    return ErrnoError(errno);
}

std::string WithReason(std::string_view message, const SystemError& error) {
    std::string text(message);
    if (!error.text.empty()) {
        text += ": ";
        text += error.text;
    }
    return text;
}

} // namespace zav
