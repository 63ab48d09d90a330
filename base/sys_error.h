// The system's own reason for a failed call, kept beside a result so that a
// message can say why ("No space left on device", "Permission denied"), not
// only what failed.
#pragma once

#include <string>
#include <string_view>

namespace zav {

struct SystemError {
    int code = 0;     // errno, or on Windows a Win32 error code from a Win32 call
    std::string text; // the system's words for it; empty when there is no reason

    explicit operator bool() const { return code != 0; }
};

// The reason of the C runtime or POSIX call that failed last on this thread
// (errno). A code of 0 gives an empty SystemError.
SystemError ErrnoError(int code);
SystemError LastErrnoError();

#ifdef _WIN32
// The reason of the Win32 call that failed last on this thread (GetLastError).
SystemError LastWin32Error();
SystemError Win32Error(unsigned long code);
#endif

// "message: reason", or the message alone when there is no reason.
std::string WithReason(std::string_view message, const SystemError& error);

} // namespace zav
