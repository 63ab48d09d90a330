#include "capture/serial.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace zav {
namespace {

// The diagnostic log: opened on the first logged call, kept for the process.
FILE* g_log = nullptr;

bool OpenLog() {
    if (g_log != nullptr)
        return true;
    char path[MAX_PATH];
    DWORD got = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (got == 0 || got >= MAX_PATH)
        path[0] = '\0';
    char* slash = std::strrchr(path, '\\');
    char* name = slash != nullptr ? slash + 1 : path;
    static const char kLogName[] = "MonDbg.txt";
    if (static_cast<size_t>(name - path) + sizeof kLogName > sizeof path)
        return false;
    std::memcpy(name, kLogName, sizeof kLogName);
    g_log = std::fopen(path, "wb");
    return g_log != nullptr;
}

void Log(bool on, const char* format, unsigned long value) {
    if (on) {
        std::fprintf(g_log, format, value);
        std::fflush(g_log);
    }
}

// Closes the port and passes the step's code on, logging the error first;
// the error stays the thread's last one.
CommResult Fail(HANDLE port, bool log, const char* format, CommResult code) {
    const DWORD error = GetLastError();
    Log(log, format, error);
    CloseHandle(port);
    SetLastError(error);
    return code;
}

} // namespace

CommResult OpenCommPort(int port, int baud, int options, void** out) {
    const bool log = (options & kCommOptionLog) != 0;
    if (log) {
        if (!OpenLog())
            return kCommLogFailed;
        std::fprintf(g_log, "port:      %d\n", port);
        std::fprintf(g_log, "baudrate:  %d\n", baud);
        std::fprintf(g_log, "flags:     %d\n", options);
        std::fflush(g_log);
    }

    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (log) {
            std::fprintf(g_log, "Could not open port com%d, error: %08lX\n", port, error);
            std::fflush(g_log);
        }
        SetLastError(error);
        return kCommOpenFailed;
    }

    if (!SetCommMask(h, 0x05FF))
        return Fail(h, log, "SetCommMask failed, error: %08lX\n", kCommMaskFailed);
    if (!SetupComm(h, 4096, 4096))
        return Fail(h, log, "SetupComm failed, error: %08lX\n", kCommQueuesFailed);
    if (!PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return Fail(h, log, "PurgeComm failed, error: %08lX\n", kCommPurgeFailed);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (!SetCommTimeouts(h, &timeouts))
        return Fail(h, log, "SetCommTimeouts failed, error: %08lX\n", kCommTimeoutsFailed);

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        return Fail(h, log, "GetCommState failed, error: %08lX\n", kCommGetStateFailed);
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.XonLim = 512;
    dcb.XoffLim = 3584;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!SetCommState(h, &dcb))
        return Fail(h, log, "SetCommState failed, error: %08lX\n", kCommSetStateFailed);

    DWORD modem = 0;
    if (!GetCommModemStatus(h, &modem))
        return Fail(h, log, "GetCommModemStatus #1 failed, error: %08lX\n", kCommModemFailed);

    if (log) {
        std::fprintf(g_log, "port %d OK\n", port);
        std::fflush(g_log);
    }
    *out = h;
    return kCommOk;
}

CommResult SerialPort::Open(int port, int baud, int options) {
    Close();
    error_ = {};
    void* h = nullptr;
    const CommResult result = OpenCommPort(port, baud, options, &h);
    if (result == kCommOk)
        handle_ = reinterpret_cast<std::intptr_t>(h);
    else
        error_ = LastWin32Error();
    return result;
}

CommResult SerialPort::Open(const char* device, int baud) {
    std::string_view name(device);
    if (name.rfind("\\\\.\\", 0) == 0)
        name.remove_prefix(4);
    const bool com = name.size() > 3 && _strnicmp(name.data(), "com", 3) == 0 &&
                     name.find_first_not_of("0123456789", 3) == std::string_view::npos &&
                     name.size() <= 6;
    const int port = com ? PortNumberFromText(name) : 0;
    if (port < 1 || port > 255) {
        Close();
        error_ = Win32Error(ERROR_FILE_NOT_FOUND); // no such port
        return kCommOpenFailed;
    }
    return Open(port, baud, 0);
}

void SerialPort::Close() {
    if (handle_ != kClosed) {
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
        handle_ = kClosed;
    }
}

bool SerialPort::Write(const void* data, std::size_t size) {
    DWORD written = 0;
    return IsOpen() &&
           WriteFile(reinterpret_cast<HANDLE>(handle_), data, static_cast<DWORD>(size), &written,
                     nullptr) &&
           written == size;
}

std::size_t SerialPort::BytesWaiting() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!IsOpen())
        return 0;
    // A port that cannot be polled any more (the cable was pulled) reports one
    // byte, so that the reader's next ReadFile tells the failure.
    pollFailed_ = !ClearCommError(reinterpret_cast<HANDLE>(handle_), &errors, &status);
    if (pollFailed_)
        return 1;
    return status.cbInQue;
}

long SerialPort::Read(void* buffer, std::size_t size) {
    DWORD got = 0;
    if (!IsOpen() || !ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(size),
                               &got, nullptr))
        return -1;
    // Nothing from a port that could not be polled: it is gone.
    if (got == 0 && pollFailed_)
        return -1;
    return static_cast<long>(got);
}

} // namespace zav
