// What the command line needs of the terminal or console it runs in.
#pragma once

#include <string>
#include <vector>

namespace zav::cli {

// Set up for the run, put back at its end. Linux: a file-size limit
// (ulimit -f) makes a write fail with EFBIG, which every write path handles
// like a full disk, rather than ending the program with a cut file behind.
// Windows: the console shows the program's text, which is UTF-8, and gets
// its own code page back afterwards.
class ProgramConsole {
  public:
    ProgramConsole();
    ~ProgramConsole();
    ProgramConsole(const ProgramConsole&) = delete;
    ProgramConsole& operator=(const ProgramConsole&) = delete;

  private:
    unsigned savedCodePage_ = 0;
};

// The program's arguments (the program's own name first) in UTF-8. Windows
// hands `argv` over in the ANSI code page, which cannot hold every name
// ("Μετρήσεις" on a German system): there they are read from the UTF-16
// command line.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Whether standard output is a terminal (a status is then shown in place).
bool StdoutIsTerminal();

enum class InputState { Nothing, Line, Ended };
// Waits at most `ms` for standard input: Line once a line was ended (Enter),
// Ended when no more input can come.
InputState WaitForInput(int ms);

} // namespace zav::cli
