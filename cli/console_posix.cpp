#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "cli/console.h"

namespace zav::cli {

ProgramConsole::ProgramConsole() {
    signal(SIGXFSZ, SIG_IGN);
}

ProgramConsole::~ProgramConsole() = default;

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

InputState WaitForInput(int ms) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, ms) <= 0)
        return InputState::Nothing;
    char buf[256];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0)
        return InputState::Ended;
    return std::memchr(buf, '\n', static_cast<std::size_t>(n)) ? InputState::Line
                                                               : InputState::Nothing;
}

} // namespace zav::cli
