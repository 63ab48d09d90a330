// Child processes for the tests that run zavprint and the simulator.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace zavtest {

// Starts args[0] with `in` as its input (when not -1), its output and errors
// into `outPath`, and XDG_CONFIG_HOME set to `config`. `unprivileged` runs it
// as nobody when the test runs as root (who may write into any folder).
inline pid_t Spawn(const std::vector<std::string>& args, int in, const std::string& outPath,
                   const std::string& config, bool unprivileged = false) {
    pid_t pid = fork();
    if (pid == 0) {
        if (in >= 0)
            dup2(in, 0);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits at most `limit` for the process; kills it when it does not end.
inline int WaitFor(pid_t& pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace zavtest
