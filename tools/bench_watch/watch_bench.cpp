// zav_watch_bench [--printouts N] [--max-pages N] [--gap MS] [--idle-stop S]
//                 [--rate N] [--single-file] [--keep]
//
// Soak run of "zavprint capture --watch": N printouts (default 100) of 1 to
// --max-pages pages (default 20, the count drawn for each from a fixed seed)
// are sent back to back by the simulator at the line rate (default 92,160
// bytes/s) with --gap ms of quiet between them (default 800); the watch ends
// a printout after --idle-stop seconds of quiet (default 0.3). Prints how many
// captures came, whether the joined page files of each equal what was sent
// for it, the index rows, the time taken and the watch's resident memory over
// the run. --keep leaves the work folder in place.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "printout.h"
#include "work_folder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int printouts = 100;
    int maxPages = 20;
    long gapMs = 800;
    double idleStop = 0.3;
    long rate = 92160;
    bool singleFile = false;
    bool keep = false;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--printouts" && more)
            o.printouts = std::atoi(argv[++i]);
        else if (a == "--max-pages" && more)
            o.maxPages = std::atoi(argv[++i]);
        else if (a == "--gap" && more)
            o.gapMs = std::atol(argv[++i]);
        else if (a == "--idle-stop" && more)
            o.idleStop = std::atof(argv[++i]);
        else if (a == "--rate" && more)
            o.rate = std::atol(argv[++i]);
        else if (a == "--single-file")
            o.singleFile = true;
        else if (a == "--keep")
            o.keep = true;
        else
            return false;
    }
    return o.printouts > 0 && o.maxPages > 0 && o.gapMs >= 0 && o.idleStop > 0 && o.rate > 0;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& output) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(output.c_str(), "w", stdout) ||
            !std::freopen(output.c_str(), "a", stderr))
            _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Resident memory of a process in KB ("VmRSS" or "VmHWM"), 0 when unknown.
long MemoryKb(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1);
    }
    return 0;
}

struct Saved {
    std::string name;
    long long bytes;
};

std::vector<Saved> SavedCaptures(const std::string& log) {
    std::vector<Saved> saved;
    const std::regex line("saved (\\S+): (\\d+) bytes");
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
        saved.push_back({(*it)[1], std::stoll((*it)[2])});
    return saved;
}

std::string JoinedPages(const std::string& folder, const std::string& name, bool singleFile) {
    if (singleFile)
        return Slurp(folder + "/" + name + ".cpt");
    std::string all;
    for (int page = 1;; ++page) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%03d.cpt", page);
        const std::string file = folder + "/" + name + suffix;
        if (!fs::exists(file))
            return all;
        all += Slurp(file);
    }
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: zav_watch_bench [--printouts N] [--max-pages N] [--gap MS] "
                             "[--idle-stop S] [--rate N] [--single-file] [--keep]\n");
        return 2;
    }
    zavtool::WorkFolder work("zav_watch_bench");
    if (o.keep)
        work.Keep();
    const fs::path dir = work.Path();
    fs::create_directories(dir / "captures");
    const std::string folder = (dir / "captures").string();

    // The printouts, each with its own page count.
    std::mt19937 draw(20261207);
    std::vector<std::string> sent;
    std::vector<std::string> simArgs = {ZAVSIM_PATH,
                                        "--pty",
                                        (dir / "line").string(),
                                        "--trigger",
                                        (dir / "print").string(),
                                        "--rate",
                                        std::to_string(o.rate),
                                        "--gap",
                                        std::to_string(o.gapMs),
                                        "--playlist",
                                        (dir / "playlist").string()};
    std::ofstream playlist((dir / "playlist").string());
    long long totalBytes = 0;
    int totalPages = 0;
    for (int i = 0; i < o.printouts; ++i) {
        zavtool::PrintoutOptions printout;
        printout.pages = 1 + static_cast<int>(draw() % static_cast<unsigned>(o.maxPages));
        printout.seed = static_cast<std::uint32_t>(i + 1);
        const std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(printout);
        const std::string file = (dir / ("printout" + std::to_string(i) + ".cpt")).string();
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        sent.emplace_back(bytes.begin(), bytes.end());
        playlist << file << "\n";
        totalBytes += static_cast<long long>(bytes.size());
        totalPages += printout.pages;
    }
    const double lineSeconds = static_cast<double>(totalBytes) / static_cast<double>(o.rate);
    std::printf("%d printouts, %d pages, %lld bytes: %.1f s on the line at %ld B/s, %.1f s of "
                "gaps\n",
                o.printouts, totalPages, totalBytes, lineSeconds, o.rate,
                o.printouts * o.gapMs / 1000.0);

    playlist.close();
    const pid_t sim = Spawn(simArgs, (dir / "sim.out").string());
    for (int i = 0; i < 500 && !fs::exists(dir / "line"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string log = (dir / "watch.log").string();
    std::vector<std::string> watchArgs = {
        ZAVPRINT_PATH, "capture", "--watch", "--port",      (dir / "line").string(),   "--folder",
        folder,        "--name",  "soak",    "--idle-stop", std::to_string(o.idleStop)};
    if (o.singleFile)
        watchArgs.push_back("--single-file");
    const pid_t watch = Spawn(watchArgs, log);
    for (int i = 0; i < 500 && Slurp(log).find("cable found") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    std::ofstream((dir / "print").string()).flush();
    const Clock::time_point start = Clock::now();
    const double limit = lineSeconds * 1.5 + o.printouts * (o.gapMs / 1000.0 + o.idleStop) + 60;
    // Resident memory after every tenth of the printouts.
    std::vector<std::pair<int, long>> memory;
    int captured = 0;
    while (captured < o.printouts && Seconds(start) < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        captured = static_cast<int>(SavedCaptures(Slurp(log)).size());
        const int step = std::max(1, o.printouts / 10);
        if (captured > 0 && (memory.empty() || captured >= memory.back().first + step))
            memory.emplace_back(captured, MemoryKb(watch, "VmRSS:"));
    }
    const double took = Seconds(start);
    const long peakKb = MemoryKb(watch, "VmHWM:");
    memory.emplace_back(captured, MemoryKb(watch, "VmRSS:"));
    kill(watch, SIGTERM);
    int status = 0;
    waitpid(watch, &status, 0);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    const std::vector<Saved> saved = SavedCaptures(Slurp(log));
    int equal = 0;
    long long accounted = 0;
    for (std::size_t i = 0; i < saved.size() && i < sent.size(); ++i) {
        const std::string got = JoinedPages(folder, saved[i].name, o.singleFile);
        if (got == sent[i] && saved[i].bytes == static_cast<long long>(got.size())) {
            ++equal;
            accounted += static_cast<long long>(got.size());
        } else {
            std::printf("printout %zu (%s): %zu bytes kept, %zu sent\n", i, saved[i].name.c_str(),
                        got.size(), sent[i].size());
        }
    }
    const std::string index = Slurp(folder + "/index.html");
    int rows = 0;
    for (auto at = index.find("<tr class=\"capture\""); at != std::string::npos;
         at = index.find("<tr class=\"capture\"", at + 1))
        ++rows;

    std::printf("captures: %zu of %d, %d equal to what was sent (%lld of %lld bytes), "
                "index rows %d\n",
                saved.size(), o.printouts, equal, accounted, totalBytes, rows);
    std::printf("time from the first byte to the last capture saved: %.1f s (the line alone: "
                "%.1f s)\n",
                took, lineSeconds + (o.printouts - 1) * o.gapMs / 1000.0);
    std::printf("watch resident memory (KB) after N captures:");
    for (const auto& [count, kb] : memory)
        std::printf(" %d:%ld", count, kb);
    std::printf("; peak %ld KB; exit status %d\n", peakKb,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    if (o.keep)
        std::printf("work folder kept: %s\n", dir.string().c_str());
    return equal == o.printouts ? 0 : 1;
}
