// The command line of "zavprint": each subcommand describes its options in a
// table, one parser (getopt_long) reads them and one formatter prints the help,
// so every subcommand takes --opt=value and --opt value, answers --help, and
// reports bad usage the same way (one line on stderr, exit status 2).
#pragma once

#include <span>
#include <vector>

namespace zav::cli {

inline constexpr int kExitUsage = 2;

struct OptionInfo {
    int id;            // what the command's own code knows the option by
    const char* name;  // long name without the dashes: "folder"
    const char* value; // the value's name in the help ("DIR"); nullptr: a switch
    const char* help;  // help text; '\n' starts a continuation line
};

struct CommandInfo {
    const char* name;     // "capture"; nullptr for zavprint itself
    const char* synopsis; // what follows "zavprint " in the usage line
    const char* summary;  // what the command does; '\n' separates lines
    std::span<const OptionInfo> options;
    int maxOperands = 0; // words that are no options; -1: any number
    // Options only before the first operand: the words from there on belong
    // to whatever the operand names (zavprint's own options before a command).
    bool optionsFirst = false;
    // Prints the help instead of PrintCommandHelp, when set.
    void (*printHelp)() = nullptr;
};

struct ParsedOption {
    int id;
    const char* value; // nullptr for a switch
};

struct ParsedArgs {
    std::vector<ParsedOption> options; // in the order given
    std::vector<char*> operands;       // in the order given
    int exitStatus = 0;                // when ParseArgs returned false
};

// Parses the words after the command's name (argv[0] is the first of them).
// True when the command is to run; false when it is done: --help printed the
// command's help (exitStatus 0) or a usage error was reported (exitStatus 2).
bool ParseArgs(const CommandInfo& command, int argc, char** argv, ParsedArgs& args);

// Reports bad usage as one line, "zavprint NAME: TEXT (see zavprint NAME
// --help)", on stderr and returns kExitUsage.
int UsageError(const CommandInfo& command, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// "Usage: zavprint NAME SYNOPSIS", the summary and the options.
void PrintCommandHelp(const CommandInfo& command);

// The block that zavprint --help shows for a subcommand: its usage line as a
// heading, then its summary and options indented.
void PrintCommandSection(const CommandInfo& command);

// The option lines alone, aligned in two columns; withHelp adds -h, --help.
void PrintOptions(std::span<const OptionInfo> options, bool withHelp = false);

} // namespace zav::cli
