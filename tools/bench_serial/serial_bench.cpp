// How long the cable handshake holds start-up: against a simulated cable that
// answers, one that stays silent and one whose model reply is too short. The
// handshake should take well under 0.25 s with an answering cable, and a
// silent one should cost at most about 0.2 s.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "capture/cable.h"

namespace {

// One simulator on a pty for the whole run; its mode file picks the behaviour.
struct Simulator {
    std::string dir, link, modeFile;
    pid_t pid = -1;
    Simulator() {
        char tmpl[] = "/tmp/zavbench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            return;
        dir = tmpl;
        link = dir + "/ttyUSB0";
        modeFile = dir + "/mode";
        Mode("normal");
        pid = fork();
        if (pid == 0) {
            freopen("/dev/null", "w", stdout); // it names its pty there
            execl(ZAVSIM_PATH, ZAVSIM_PATH, "--pty", link.c_str(), "--mode-file", modeFile.c_str(),
                  "--model", "-ZP1000A", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && access(link.c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Simulator() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        std::remove(modeFile.c_str());
        rmdir(dir.c_str());
    }
    void Mode(const char* mode) { std::ofstream(modeFile) << mode << "\n"; }
};

Simulator& Sim() {
    static Simulator sim;
    return sim;
}

void Handshake(benchmark::State& state, const char* mode, bool expectModel) {
    Simulator& sim = Sim();
    sim.Mode(mode);
    double worst = 0;
    int answered = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::string model;
        bool got = zav::ReadModelFrom(sim.link, model);
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worst = seconds > worst ? seconds : worst;
        answered += got ? 1 : 0;
    }
    state.counters["worst_s"] = worst;
    state.counters["answered"] = answered;
    if (answered != (expectModel ? static_cast<int>(state.iterations()) : 0))
        state.SkipWithError("the handshake did not end as this mode should");
}

void BM_HandshakeAnsweringCable(benchmark::State& state) {
    Handshake(state, "normal", true);
}
void BM_HandshakeSilentCable(benchmark::State& state) {
    Handshake(state, "silent", false);
}
void BM_HandshakeShortModelReply(benchmark::State& state) {
    Handshake(state, "short", false);
}

BENCHMARK(BM_HandshakeAnsweringCable)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_HandshakeSilentCable)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_HandshakeShortModelReply)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
