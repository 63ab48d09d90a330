#include "capture/handshake.h"

#include "host/ascii.h"

#include <cctype>
#include <cstring>

namespace zav {
namespace {

constexpr char kWake[] = "\r\r";
constexpr char kModelRequest[] = "model\r";
constexpr char kGoodbye[] = "wdr\r";
constexpr int kPolls = 10;
constexpr int kPollIntervalMs = 10;

// Sends a text with its terminating NUL.
bool SendWithNul(CableLine& line, const char* text) {
    return line.Write(text, std::strlen(text) + 1);
}

// Waits until more than `threshold` bytes are waiting; false after 10 polls.
bool WaitForMoreThan(CableLine& line, std::size_t threshold) {
    for (int poll = 0; poll < kPolls; ++poll) {
        if (line.BytesWaiting() > threshold)
            return true;
        line.SleepMs(kPollIntervalMs);
    }
    return false;
}

// Reads what is waiting, at most the reply buffer's size; -1 on failure.
long ReadWaiting(CableLine& line, unsigned char* buffer) {
    std::size_t waiting = line.BytesWaiting();
    if (waiting > kReplyBufferSize)
        waiting = kReplyBufferSize;
    return line.Read(buffer, waiting);
}

} // namespace

bool RunCableHandshake(CableLine& line, std::string& model) {
    if (!SendWithNul(line, kWake))
        return false;

    bool found = false;
    unsigned char reply[kReplyBufferSize];
    if (WaitForMoreThan(line, 2) && ReadWaiting(line, reply) >= 0 &&
        SendWithNul(line, kModelRequest) && WaitForMoreThan(line, 10)) {
        long got = ReadWaiting(line, reply);
        if (got > 0)
            found = ModelFromReply(reply, static_cast<std::size_t>(got), model);
    }
    SendWithNul(line, kGoodbye); // its result does not matter
    return found;
}

bool ModelFromReply(const unsigned char* reply, std::size_t size, std::string& model) {
    if (size < kModelOffset + kModelTag.size())
        return false;
    if (std::memcmp(reply + kModelOffset, kModelTag.data(), kModelTag.size()) != 0)
        return false;
    std::size_t end = size < kModelOffset + kModelTextMax ? size : kModelOffset + kModelTextMax;
    std::size_t stop = kModelOffset;
    while (stop < end && reply[stop] != 0)
        ++stop;
    model.assign(reinterpret_cast<const char*>(reply + kModelOffset), stop - kModelOffset);
    return true;
}

bool IsCableDescription(std::string_view description) {
    return EqualIgnoringCase(description, kCableDescription);
}

int PortNumberFromText(std::string_view text) {
    if (text.size() <= 3)
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
         ++i) {
        number = number * 10 + (text[i] - '0');
        if (number > 99999)
            return 0;
    }
    return number;
}

} // namespace zav
