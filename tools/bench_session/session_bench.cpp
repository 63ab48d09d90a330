// zav_session_bench [--mb N] [--pages N] [--idle-seconds N] [--only long|stop|idle]
//
//   long  a printout of about N MB (default 10) sent at 92,160 bytes per second
//         (921600 baud) is recorded by the read loop; prints the time taken, the
//         largest backlog a read found (the cable's input queue holds 4096
//         bytes) and whether the recording equals what was sent
//   stop  a printout of N pages (default 100) is recorded by a whole session;
//         prints the time from the stop flag to the report being written
//   idle  the read loop on a quiet line for N seconds (default 10); prints the
//         CPU time it used
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "capture/readloop.h"
#include "capture/serial.h"
#include "capture/session.h"
#include "printout.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from, Clock::time_point to = Clock::now()) {
    return std::chrono::duration<double>(to - from).count();
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The simulator on a pty of its own, printing `stream` when triggered.
class Simulator {
  public:
    Simulator(const std::string& dir, const std::string& stream) {
        line = dir + "/line";
        trigger = dir + "/print";
        std::fflush(stdout); // the child must not print what is buffered here
        pid_ = fork();
        if (pid_ == 0) {
            if (!std::freopen("/dev/null", "w", stdout))
                _exit(127);
            execl(ZAVSIM_PATH, ZAVSIM_PATH, "--pty", line.c_str(), "--print", stream.c_str(),
                  "--trigger", trigger.c_str(), "--rate", "92160", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && !fs::exists(line); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    void Print() const { std::ofstream(trigger).flush(); }
    std::string line, trigger;

  private:
    pid_t pid_ = -1;
};

// Counts the backlog each read finds.
class WatchedLine : public zav::CableLine {
  public:
    explicit WatchedLine(zav::CableLine& line) : line_(line) {}
    bool Write(const void* d, std::size_t n) override { return line_.Write(d, n); }
    std::size_t BytesWaiting() override {
        std::size_t n = line_.BytesWaiting();
        if (n > maxWaiting)
            maxWaiting = n;
        return n;
    }
    long Read(void* b, std::size_t n) override { return line_.Read(b, n); }
    void SleepMs(int ms) override { line_.SleepMs(ms); }
    std::size_t maxWaiting = 0;

  private:
    zav::CableLine& line_;
};

std::string WritePrintout(const std::string& path, int pages) {
    zavtool::PrintoutOptions options;
    options.pages = pages;
    std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(options);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return std::string(bytes.begin(), bytes.end());
}

int LongPrintout(const std::string& dir, double megabytes) {
    const int pageBytes = static_cast<int>(WritePrintout(dir + "/one.raw", 1).size());
    const int pages = static_cast<int>(megabytes * 1e6 / pageBytes) + 1;
    const std::string sent = WritePrintout(dir + "/long.raw", pages);
    std::printf("long: %d pages, %zu bytes, %.1f s at 92160 B/s\n", pages, sent.size(),
                sent.size() / 92160.0);
    Simulator sim(dir, dir + "/long.raw");
    zav::SerialLine line;
    if (line.Port().Open(sim.line.c_str(), zav::kCableBaudRate) != zav::kCommOk) {
        std::printf("long: the line cannot be opened\n");
        return 1;
    }
    WatchedLine watched(line);
    std::FILE* recording = std::fopen((dir + "/long.tmp").c_str(), "wb");
    std::atomic<int> stop{0};
    zav::ReadLoopState state;
    const Clock::time_point start = Clock::now();
    std::atomic<long long> bytes{0};
    std::atomic<Clock::rep> lastTick{start.time_since_epoch().count()};
    auto last = [&] { return Clock::time_point(Clock::duration(lastTick.load())); };
    std::thread loop([&] {
        zav::RunReadLoop(
            watched, recording, stop,
            [&](long long count) {
                lastTick.store(Clock::now().time_since_epoch().count());
                bytes.store(count);
            },
            state);
    });
    sim.Print();
    // Stop once everything came, or once the line has been quiet for 5 s.
    while (bytes.load() < static_cast<long long>(sent.size()) && Seconds(last()) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.store(1);
    loop.join();
    std::fclose(recording);
    const bool same = Slurp(dir + "/long.tmp") == sent;
    std::printf("long: %lld bytes recorded in %.1f s, largest backlog %zu bytes, recording %s\n",
                state.bytes, Seconds(start, last()), watched.maxWaiting,
                same ? "equals the printout" : "DIFFERS from the printout");
    return same ? 0 : 1;
}

class BenchEnv : public zav::CaptureSessionEnv {
  public:
    std::unique_ptr<zav::CableLine> OpenPort(const std::string& device,
                                             zav::SystemError&) override {
        auto line = std::make_unique<zav::SerialLine>();
        if (line->Port().Open(device.c_str(), zav::kCableBaudRate) != zav::kCommOk)
            return nullptr;
        return line;
    }
    void SetStatus(const char*) override {}
    void OnProgress(long long bytes) override { this->bytes.store(bytes); }
    std::atomic<long long> bytes{0};
};

int StopToReport(const std::string& dir, int pages) {
    const std::string sent = WritePrintout(dir + "/pages.raw", pages);
    Simulator sim(dir, dir + "/pages.raw");
    zav::CaptureRequest request;
    request.folder = dir;
    request.name = "run";
    request.port = sim.line;
    BenchEnv env;
    std::atomic<int> stop{0};
    zav::SessionOutcome outcome;
    std::thread session([&] { zav::RunCaptureSession(request, env, stop, &outcome); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sim.Print();
    const Clock::time_point begin = Clock::now();
    while (env.bytes.load() < static_cast<long long>(sent.size()) && Seconds(begin) < 120)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Clock::time_point stopped = Clock::now();
    stop.store(1);
    session.join();
    const double took = Seconds(stopped);
    std::printf("stop: %d pages (%zu bytes): %u page files, report %s, %.2f s from Stop to the "
                "report written\n",
                pages, sent.size(), outcome.finish.pageCount,
                outcome.finish.reportWritten ? "written" : "NOT written", took);
    return outcome.finish.pageCount == static_cast<unsigned>(pages) ? 0 : 1;
}

int IdleLoop(const std::string& dir, int seconds) {
    Simulator sim(dir, dir + "/none.raw");
    zav::SerialLine line;
    if (line.Port().Open(sim.line.c_str(), zav::kCableBaudRate) != zav::kCommOk)
        return 1;
    std::FILE* recording = std::fopen((dir + "/idle.tmp").c_str(), "wb");
    std::atomic<int> stop{0};
    zav::ReadLoopState state;
    double cpu = 0;
    std::thread loop([&] {
        rusage before{}, after{};
        getrusage(RUSAGE_THREAD, &before);
        zav::RunReadLoop(line, recording, stop, {}, state);
        getrusage(RUSAGE_THREAD, &after);
        auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
        cpu = ms(after.ru_utime) - ms(before.ru_utime) + ms(after.ru_stime) - ms(before.ru_stime);
    });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop.store(1);
    loop.join();
    std::fclose(recording);
    std::printf("idle: %d s on a quiet line: %.1f ms CPU (%.3f %% of one core)\n", seconds, cpu,
                cpu / (seconds * 10.0));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    double megabytes = 10;
    int pages = 100, idleSeconds = 10;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (std::strcmp(argv[i], "--mb") == 0 && value)
            megabytes = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--pages") == 0 && value)
            pages = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--idle-seconds") == 0 && value)
            idleSeconds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--only") == 0 && value)
            only = argv[++i];
        else {
            std::fprintf(stderr, "usage: zav_session_bench [--mb N] [--pages N] "
                                 "[--idle-seconds N] [--only long|stop|idle]\n");
            return 2;
        }
    }
    char tmpl[] = "/tmp/zavsessionbench.XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const std::string dir = tmpl;
    std::ofstream(dir + "/none.raw").flush();
    int failures = 0;
    if (only.empty() || only == "idle")
        failures += IdleLoop(dir, idleSeconds);
    if (only.empty() || only == "stop")
        failures += StopToReport(dir, pages);
    if (only.empty() || only == "long")
        failures += LongPrintout(dir, megabytes);
    fs::remove_all(dir);
    return failures ? 1 : 0;
}
