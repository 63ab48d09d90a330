#include "capture/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace zav {
namespace {

speed_t SpeedCode(int baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

// A terminal without modem lines (a pty, some adapters) answers these.
bool NoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

} // namespace

CommResult SerialPort::Open(const char* device, int baud) {
    Close();
    error_ = {};
    const speed_t speed = SpeedCode(baud);
    if (speed == B0) {
        error_ = ErrnoError(EINVAL);
        return kCommSetStateFailed;
    }
    // Non-blocking only while opening, so that a missing carrier cannot hold us.
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error_ = LastErrnoError();
        return kCommOpenFailed;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        error_ = LastErrnoError();
        close(fd);
        return kCommOpenFailed;
    }
    auto fail = [this, fd](CommResult code) {
        error_ = LastErrnoError();
        ioctl(fd, TIOCNXCL);
        close(fd);
        return code;
    };
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(kCommOpenFailed);

    termios before{};
    if (tcgetattr(fd, &before) != 0)
        return fail(kCommGetStateFailed);
    termios raw = before;
    cfmakeraw(&raw);
    raw.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    raw.c_cflag |= CS8 | CLOCAL | CREAD;
    raw.c_iflag &= ~(IXON | IXOFF | IXANY);
    raw.c_cc[VMIN] = 0; // reads take what is there and never wait
    raw.c_cc[VTIME] = 0;
    if (cfsetispeed(&raw, speed) != 0 || cfsetospeed(&raw, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &raw) != 0)
        return fail(kCommSetStateFailed);
    auto restoreAndFail = [&](CommResult code) {
        const int reason = errno;
        tcsetattr(fd, TCSANOW, &before);
        errno = reason;
        return fail(code);
    };

    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIC, &lines) != 0 && !NoModemLines(errno))
        return restoreAndFail(kCommModemFailed);
    int status = 0;
    if (ioctl(fd, TIOCMGET, &status) != 0 && !NoModemLines(errno))
        return restoreAndFail(kCommModemFailed);
    if (tcflush(fd, TCIOFLUSH) != 0)
        return restoreAndFail(kCommPurgeFailed);

    saved_ = new termios(before);
    handle_ = fd;
    return kCommOk;
}

void SerialPort::Close() {
    if (handle_ == kClosed)
        return;
    int fd = static_cast<int>(handle_);
    if (saved_ != nullptr) {
        tcsetattr(fd, TCSANOW, static_cast<termios*>(saved_));
        delete static_cast<termios*>(saved_);
        saved_ = nullptr;
    }
    ioctl(fd, TIOCNXCL);
    close(fd);
    handle_ = kClosed;
}

bool SerialPort::Write(const void* data, std::size_t size) {
    if (!IsOpen())
        return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(static_cast<int>(handle_), p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t SerialPort::BytesWaiting() {
    int waiting = 0;
    if (!IsOpen())
        return 0;
    const int fd = static_cast<int>(handle_);
    if (ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0)
        return static_cast<std::size_t>(waiting);
    // A line that hung up or failed has nothing waiting for ever: report one
    // byte so that the reader's next Read tells the failure.
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return 1;
    return 0;
}

long SerialPort::Read(void* buffer, std::size_t size) {
    if (!IsOpen())
        return -1;
    for (;;) {
        ssize_t n = read(static_cast<int>(handle_), buffer, size);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0) {
            // Nothing there, or the device is gone: a hung-up line reads
            // empty for ever, so tell the two apart.
            pollfd p{static_cast<int>(handle_), POLLIN, 0};
            bool gone = poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            return gone ? -1 : 0;
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : -1;
    }
}

} // namespace zav
