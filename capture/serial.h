// The serial port that carries the print cable's stream.
//
// Windows opens a COM port by number (OpenCommPort); Linux opens a serial
// device by path. Both set the line up the same way: raw 8N1 at the given
// rate, no flow control, DTR and RTS held off, the receive queue emptied.
// SerialPort owns an open port and closes it on every path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/sys_error.h"
#include "capture/handshake.h"

namespace zav {

// Result codes of opening a port: 0 or the step that failed.
enum CommResult : int {
    kCommOk = 0,
    kCommLogFailed = -101,    // the diagnostic log cannot be created
    kCommOpenFailed = -102,   // the device cannot be opened (absent or held by another)
    kCommMaskFailed = -103,   // event mask
    kCommQueuesFailed = -104, // queue sizes
    kCommPurgeFailed = -105,  // emptying the queues
    kCommTimeoutsFailed = -106,
    kCommGetStateFailed = -107,
    kCommSetStateFailed = -108,
    kCommModemFailed = -109, // modem-status test
};

// Option bits of opening a port.
enum : int { kCommOptionLog = 1 }; // write the diagnostic log "MonDbg.txt"

#ifdef _WIN32
// Opens "\\.\COM<port>" exclusively for synchronous reads and writes and sets
// it up. On 0 the Win32 handle is stored through `out` and the caller closes it
// with CloseHandle; on a negative result nothing is stored and no port stays
// open. `out` is a HANDLE*.
CommResult OpenCommPort(int port, int baud, int options, void** out);
#endif

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort() { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

#ifdef _WIN32
    // OpenCommPort on COM<port>; a port already open here is closed first.
    CommResult Open(int port, int baud, int options = 0);
#endif
    // Opens the device exclusively and sets it up: on Linux a device path
    // (O_NOCTTY, TIOCEXCL; the device's earlier settings come back on
    // Close), on Windows "COM<n>" in any case (also as "\\.\COM<n>");
    // anything else fails with kCommOpenFailed. Same result codes.
    CommResult Open(const char* device, int baud);
    void Close();
    // Why the last Open failed, in the system's words.
    const SystemError& Error() const {
        return error_;
    }
    bool IsOpen() const {
        return handle_ != kClosed;
    }

    // One synchronous write of all bytes; false when it failed or fell short.
    bool Write(const void* data, std::size_t size);
    // Bytes waiting in the receive queue. A line that hung up or cannot be
    // polled any more reports 1, so that the next Read returns its failure.
    std::size_t BytesWaiting();
    // One read of at most size bytes without waiting for more than is there;
    // the count read, or -1 when the read failed or the device went away.
    long Read(void* buffer, std::size_t size);

  private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed; // HANDLE on Windows, file descriptor elsewhere
    SystemError error_;
#ifndef _WIN32
    void* saved_ = nullptr; // the device's settings before Open
#else
    bool pollFailed_ = false; // the last ClearCommError failed
#endif
};

// The handshake's view of an open SerialPort.
class SerialCableLine : public CableLine {
  public:
    explicit SerialCableLine(SerialPort& port) : port_(port) {}
    bool Write(const void* data, std::size_t size) override { return port_.Write(data, size); }
    std::size_t BytesWaiting() override { return port_.BytesWaiting(); }
    long Read(void* buffer, std::size_t size) override { return port_.Read(buffer, size); }
    void SleepMs(int milliseconds) override;

  private:
    SerialPort& port_;
};

// An open port together with its line view, for code that owns both (the
// capture session).
class SerialLine : public CableLine {
  public:
    SerialPort& Port() { return port_; }
    bool Write(const void* data, std::size_t size) override { return line_.Write(data, size); }
    std::size_t BytesWaiting() override { return line_.BytesWaiting(); }
    long Read(void* buffer, std::size_t size) override { return line_.Read(buffer, size); }
    void SleepMs(int milliseconds) override { line_.SleepMs(milliseconds); }

  private:
    SerialPort port_;
    SerialCableLine line_{port_};
};

} // namespace zav
