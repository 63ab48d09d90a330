// The short talk with the print cable that reads its model text.
//
// The cable answers "\r\r" with a prompt, and "model\r" with a reply whose
// bytes from offset 7 read "VOVEzera" followed by model text; "wdr\r" ends the
// talk. Every string goes out with its terminating NUL. Each wait is bounded at
// about 100 ms (10 polls, 10 ms apart), so a silent cable costs about 0.2 s.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zav {

inline constexpr int kCableBaudRate = 921600;
inline constexpr std::string_view kCableDescription = "ZAV Print";
inline constexpr std::string_view kModelTag = "VOVEzera";
inline constexpr std::size_t kModelOffset = 7;
inline constexpr std::size_t kModelTextMax = 16;
inline constexpr std::size_t kReplyBufferSize = 256;

// The open line to the cable, as the handshake uses it. Every call is one
// synchronous operation on the port.
class CableLine {
  public:
    virtual ~CableLine() = default;
    // Writes all bytes; false when the write failed.
    virtual bool Write(const void* data, std::size_t size) = 0;
    // Bytes waiting in the receive queue; 0 when the poll fails.
    virtual std::size_t BytesWaiting() = 0;
    // One read of at most size bytes; the count read, or -1 when the read failed.
    virtual long Read(void* buffer, std::size_t size) = 0;
    virtual void SleepMs(int milliseconds) = 0;
};

// Runs the handshake on an open line. Returns true and sets `model` when the
// reply to "model\r" carried the model tag; `model` is untouched otherwise.
bool RunCableHandshake(CableLine& line, std::string& model);

// The model text of a reply: up to 16 bytes from offset 7, ended early by a
// NUL or by the end of the reply. False unless bytes 7 to 14 are exactly
// "VOVEzera"; a reply shorter than that is never read past its end.
bool ModelFromReply(const unsigned char* reply, std::size_t size, std::string& model);

// True for the print cable's FTDI description, compared without regard to case.
bool IsCableDescription(std::string_view description);

// Port text "Com%d": the decimal number after the first three characters
// ("Com12" gives 12); 0 when there is none.
int PortNumberFromText(std::string_view text);

} // namespace zav
