// zavsim: an instrument with its print cable, for tests and benchmarks.
//
//   zavsim (--port PATH | --pty LINK) [options]
//
//   --port PATH        use this terminal (e.g. one end of a socat pty pair)
//   --pty LINK         make a pseudo-terminal, link LINK to its far end and
//                      print that path on stdout
//   --mode M           normal | silent (no answer) | short (10-byte model reply)
//                      | wrongcase ("VOVEZERA") | disconnect (hang up during
//                      the printout, after --disconnect-after bytes)
//   --mode-file PATH   read the mode from this file before every answer
//   --model TEXT       model text after "VOVEzera" (default "-ZP1000A")
//   --print FILE       after "wdr\r", send this capture stream
//   --playlist FILE    instead: the capture streams named in FILE, one path a
//                      line; each printout sends the next one in turn
//   --example          after "wdr\r", send the example printout (3 pages)
//   --rate N           bytes per second while printing (at most 92160)
//   --burst N          bytes per burst (default 512); a pause follows each
//   --pause MS         extra pause between bursts (default 0)
//   --gap MS           each printout sends every --playlist file, one after
//                      another with MS of quiet between them
//   --disconnect-after N  bytes sent before the hang-up (default half)
//   --sessions N       exit after N printouts or "wdr" (default: run until killed)
//   --trigger PATH     print when PATH appears (it is removed then), not after
//                      "wdr\r": a printout started by hand at the instrument
//   --exclusive        hold the --port terminal exclusively (TIOCEXCL), so that
//                      others cannot open it: a port busy in another program
//
// Every command arrives as text with its NUL: "\r\r", "model\r", "wdr\r".
// The answer to "model\r" is its echo with CR LF (7 bytes), "VOVEzera", the
// model text and CR LF, so the model tag sits at offset 7.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "printout.h"

namespace {

constexpr long kLineLimit = 92160; // 921600 baud, 8N1

struct Options {
    std::string port, ptyLink, mode = "normal", modeFile, model = "-ZP1000A", printFile, trigger,
                               playlist;
    bool example = false, exclusive = false;
    long rate = kLineLimit, burst = 512, pauseMs = 0, disconnectAfter = -1, sessions = -1,
         gapMs = -1;
};

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

int Usage() {
    std::fprintf(stderr, "usage: zavsim (--port PATH | --pty LINK) [--mode M] [--mode-file PATH]\n"
                         "  [--model TEXT] [--print FILE | --playlist FILE | --example]\n"
                         "  [--rate N] [--burst N]\n"
                         "  [--pause MS] [--gap MS] [--disconnect-after N] [--sessions N]\n"
                         "  [--trigger PATH]\n"
                         "  [--exclusive]\n");
    return 2;
}

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::string& v) {
            if (i + 1 >= argc)
                return false;
            v = argv[++i];
            return true;
        };
        auto number = [&](long& v) {
            std::string s;
            if (!next(s))
                return false;
            char* end = nullptr;
            v = std::strtol(s.c_str(), &end, 10);
            return end != s.c_str() && *end == '\0';
        };
        bool ok = true;
        if (a == "--port")
            ok = next(o.port);
        else if (a == "--pty")
            ok = next(o.ptyLink);
        else if (a == "--mode")
            ok = next(o.mode);
        else if (a == "--mode-file")
            ok = next(o.modeFile);
        else if (a == "--model")
            ok = next(o.model);
        else if (a == "--print")
            ok = next(o.printFile);
        else if (a == "--playlist")
            ok = next(o.playlist);
        else if (a == "--trigger")
            ok = next(o.trigger);
        else if (a == "--example")
            o.example = true;
        else if (a == "--exclusive")
            o.exclusive = true;
        else if (a == "--rate")
            ok = number(o.rate) && o.rate > 0 && o.rate <= kLineLimit;
        else if (a == "--burst")
            ok = number(o.burst) && o.burst > 0;
        else if (a == "--pause")
            ok = number(o.pauseMs) && o.pauseMs >= 0;
        else if (a == "--gap")
            ok = number(o.gapMs) && o.gapMs >= 0;
        else if (a == "--disconnect-after")
            ok = number(o.disconnectAfter);
        else if (a == "--sessions")
            ok = number(o.sessions);
        else
            ok = false;
        if (!ok)
            return false;
    }
    return o.port.empty() != o.ptyLink.empty();
}

std::string CurrentMode(const Options& o) {
    if (o.modeFile.empty())
        return o.mode;
    std::ifstream in(o.modeFile);
    std::string mode;
    if (in >> mode)
        return mode;
    return o.mode;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            // A stop signal ends a write that nobody reads any more (the
            // program at the far end has gone).
            if (errno == EINTR && g_stop)
                return false;
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                if (g_stop)
                    return false;
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Before a hang-up, gives the program under test the time to take what was
// sent: a terminal that hangs up throws away what its reader has not read, and
// the tests compare every byte sent before the hang-up. `farEnd` is our own
// hold on the far end of a pty (its input queue is the reader's), or -1.
void LetTheReaderCatchUp(int farEnd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(farEnd >= 0 ? 20 : 200));
    for (int i = 0; farEnd >= 0 && i < 200; ++i) {
        int waiting = 0;
        if (ioctl(farEnd, FIONREAD, &waiting) != 0 || waiting <= 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Sends the stream in bursts at the chosen rate; false after a hang-up.
bool Print(int fd, const Options& o, const std::string& stream, bool disconnect, int farEnd) {
    using Clock = std::chrono::steady_clock;
    std::size_t limit = stream.size();
    // A hang-up point past the end sends the whole stream, never more.
    if (disconnect)
        limit = o.disconnectAfter >= 0
                    ? std::min(static_cast<std::size_t>(o.disconnectAfter), stream.size())
                    : stream.size() / 2;
    auto start = Clock::now();
    std::size_t sent = 0;
    while (sent < limit && !g_stop) {
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(o.burst), limit - sent);
        if (!WriteAll(fd, stream.data() + sent, n))
            return false;
        sent += n;
        auto due =
            start + std::chrono::microseconds(static_cast<long long>(sent) * 1000000 / o.rate);
        std::this_thread::sleep_until(due);
        if (o.pauseMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(o.pauseMs));
            start += std::chrono::milliseconds(o.pauseMs);
        }
    }
    if (disconnect)
        LetTheReaderCatchUp(farEnd);
    return !disconnect;
}

// The pty that --pty's link leads to, once made.
std::string ptyName;

int OpenLine(const Options& o, int& keepSlave) {
    keepSlave = -1;
    if (!o.port.empty()) {
        int fd = open(o.port.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) {
            std::perror(o.port.c_str());
            return -1;
        }
        termios t{};
        if (tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
        if (o.exclusive && ioctl(fd, TIOCEXCL) != 0)
            std::perror("TIOCEXCL");
        return fd;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty");
        return -1;
    }
    const char* name = ptsname(master);
    // Hold the far end open once, so that data written before the program
    // under test opens it is kept, and set it raw.
    keepSlave = open(name, O_RDWR | O_NOCTTY);
    termios t{};
    if (keepSlave >= 0 && tcgetattr(keepSlave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(keepSlave, TCSANOW, &t);
    }
    // Only a link (one left by an earlier run) is replaced, never a file.
    struct stat there {};
    if (lstat(o.ptyLink.c_str(), &there) == 0) {
        if (!S_ISLNK(there.st_mode)) {
            std::fprintf(stderr, "%s is there and is no link: not replaced\n", o.ptyLink.c_str());
            if (keepSlave >= 0)
                close(keepSlave);
            keepSlave = -1;
            close(master);
            return -1;
        }
        unlink(o.ptyLink.c_str());
    }
    ptyName = name;
    if (symlink(name, o.ptyLink.c_str()) != 0) {
        std::perror(o.ptyLink.c_str());
        close(master);
        return -1;
    }
    std::printf("%s\n", name);
    std::fflush(stdout);
    return master;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o))
        return Usage();
    std::vector<std::string> files;
    if (!o.printFile.empty())
        files.push_back(o.printFile);
    if (!o.playlist.empty()) {
        std::ifstream list(o.playlist);
        for (std::string line; std::getline(list, line);) {
            if (!line.empty())
                files.push_back(line);
        }
    }
    std::vector<std::string> streams;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "zavsim: cannot read %s\n", file.c_str());
            return 1;
        }
        streams.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (streams.empty() && o.example) {
        std::vector<std::uint8_t> example = zavtool::GeneratePrintout(zavtool::PrintoutOptions{});
        streams.emplace_back(example.begin(), example.end());
    }
    std::size_t nextStream = 0;
    // One printout: the next stream, or with --gap all of them; false after a hang-up.
    auto printOut = [&](int line, bool disconnect, int farEnd) {
        if (streams.empty())
            return true;
        if (o.gapMs < 0)
            return Print(line, o, streams[nextStream++ % streams.size()], disconnect, farEnd);
        for (std::size_t i = 0; i < streams.size() && !g_stop; ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(o.gapMs));
            if (!Print(line, o, streams[i], disconnect, farEnd))
                return false;
        }
        return true;
    };

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int keepSlave = -1;
    int fd = OpenLine(o, keepSlave);
    if (fd < 0)
        return 1;

    std::string pending;
    long sessions = 0;
    int status = 0;
    while (!g_stop && (o.sessions < 0 || sessions < o.sessions)) {
        if (!o.trigger.empty() && unlink(o.trigger.c_str()) == 0) {
            ++sessions;
            if (!printOut(fd, CurrentMode(o) == "disconnect", keepSlave))
                break;
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, 100);
        if (ready <= 0)
            continue;
        char buf[512];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            // A pty master reads EIO while nobody has the far end open.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\0')) != std::string::npos) {
            std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::string mode = CurrentMode(o);
            if (mode == "silent")
                continue;
            if (command == "\r\r") {
                WriteAll(fd, "\r\nZAV> ", 7);
            } else if (command == "model\r") {
                std::string reply = "model\r\n";
                reply += mode == "wrongcase" ? "VOVEZERA" : "VOVEzera";
                reply += o.model + "\r\n";
                if (mode == "short")
                    reply.resize(10);
                WriteAll(fd, reply.data(), reply.size());
            } else if (command == "wdr\r" && o.trigger.empty()) {
                ++sessions;
                if (!printOut(fd, mode == "disconnect", keepSlave)) {
                    g_stop = 1;
                    break;
                }
            }
        }
    }
    if (keepSlave >= 0)
        close(keepSlave);
    close(fd);
    // The link goes if it is still the one made here.
    char target[256];
    const ssize_t length =
        o.ptyLink.empty() ? -1 : readlink(o.ptyLink.c_str(), target, sizeof target - 1);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == ptyName)
        unlink(o.ptyLink.c_str());
    return status;
}
