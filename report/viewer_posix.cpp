#include "report/viewer.h"

#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "report/browser.h"

extern char** environ;

namespace zav {

namespace {

// $BROWSER's first entry; empty when unset.
std::string BrowserCommand() {
    const char* value = std::getenv("BROWSER");
    std::string command = value ? value : "";
    return command.substr(0, command.find(':'));
}

} // namespace

bool OpenInBrowser(const char* path) {
    std::string command = BrowserCommand();
    std::vector<std::string> words = command.find_first_not_of(" \t") == std::string::npos
                                         ? std::vector<std::string>{"xdg-open", path}
                                         : BrowserVariableArguments(command, path);
    if (words.empty())
        return false;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // The opener runs on its own: a double fork leaves no child to collect.
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        pid_t opener = 0;
        int result = posix_spawnp(&opener, argv[0], nullptr, nullptr, argv.data(), environ);
        _exit(result == 0 ? 0 : 127);
    }
    int status = 0;
    pid_t done;
    while ((done = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    return done == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace zav
