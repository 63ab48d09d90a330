// zavprint: the command-line program (zavprint.exe on Windows). The first
// word picks a subcommand; a plain file name means "render".
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/console.h"

namespace {

struct Command {
    const zav::cli::CommandInfo* info;
    int (*run)(int argc, char** argv);
};

constexpr Command kCommands[] = {
    {&zav::cli::kRenderCommand, zav::cli::RunRender},
    {&zav::cli::kCaptureCommand, zav::cli::RunCapture},
    {&zav::cli::kFinishCommand, zav::cli::RunFinish},
    {&zav::cli::kPortsCommand, zav::cli::RunPorts},
    {&zav::cli::kViewCommand, zav::cli::RunView},
    {&zav::cli::kTextCommand, zav::cli::RunText},
    {&zav::cli::kSearchCommand, zav::cli::RunSearch},
    {&zav::cli::kVerifyCommand, zav::cli::RunVerify},
    {&zav::cli::kKeygenCommand, zav::cli::RunKeygen},
};

const Command* FindCommand(const char* name) {
    for (const Command& c : kCommands) {
        if (std::strcmp(name, c.info->name) == 0)
            return &c;
    }
    return nullptr;
}

enum ProgramOption { kVersion };
constexpr zav::cli::OptionInfo kProgramOptions[] = {
    {kVersion, "version", nullptr, "show the version and the system it runs on, then exit"},
};

// zavprint --help, also the source of the manual page: help2man reads the
// usage lines, the sections ("Name:" lines) and the option lines.
void PrintHelp() {
    const char* lead = "Usage:";
    for (const Command& c : kCommands) {
        std::printf("%s zavprint %s\n", lead, c.info->synopsis);
        lead = "  or: ";
    }
    std::printf("%s zavprint COMMAND --help\n"
                "Captures what a measuring instrument prints on its \"ZAV Print\" cable\n"
                "and turns the printout into page bitmaps (1-bit BMP), an HTML report and\n"
                "the text of the printout.\n"
                "Commands: render (the default), capture, finish, ports, view, text, search,\n"
                "verify, keygen.\n\n",
                lead);
    for (const Command& c : kCommands) {
        zav::cli::PrintCommandSection(*c.info);
        std::printf("\n");
    }
    std::printf("Options:\n");
    zav::cli::PrintOptions(kProgramOptions, true);
    std::printf("\n"
                "Exit status:\n"
                "  0  done\n"
                "  1  a file, the cable or the session failed; verify: anything does not hold\n"
                "  2  bad usage\n\n"
#ifdef _WIN32
                "Files:\n"
                "  %%APPDATA%%\\zavprint\\capture.conf  the remembered capture settings\n");
#else
                "Environment:\n"
                "  XDG_CONFIG_HOME  where capture.conf is kept (default: ~/.config)\n"
                "  BROWSER          the program view opens reports with\n\n"
                "Files:\n"
                "  /dev/zavprint    the print cable, named by the udev rule of the package\n");
#endif
}

const zav::cli::CommandInfo kProgram{
    .name = nullptr,
    .synopsis = "COMMAND [OPTION]...",
    .summary = "",
    .options = kProgramOptions,
    .maxOperands = -1,
    .optionsFirst = true,
    .printHelp = PrintHelp,
};

int Dispatch(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp();
        return zav::cli::kExitUsage;
    }
    if (const Command* command = FindCommand(argv[1]))
        return command->run(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "help") == 0) {
        if (argc < 3) {
            PrintHelp();
            return 0;
        }
        const Command* command = FindCommand(argv[2]);
        if (!command)
            return zav::cli::UsageError(kProgram, "no command %s", argv[2]);
        zav::cli::PrintCommandHelp(*command->info);
        return 0;
    }
    // Options of rendering may come before the capture files.
    if (std::strcmp(argv[1], "--pdf") == 0 || std::strncmp(argv[1], "--paper", 7) == 0 ||
        std::strncmp(argv[1], "--pr", 4) == 0 || std::strcmp(argv[1], "--text") == 0)
        return zav::cli::RunRender(argc - 1, argv + 1);
    // zavprint's own options, or capture files to render.
    zav::cli::ParsedArgs args;
    if (!zav::cli::ParseArgs(kProgram, argc - 1, argv + 1, args))
        return args.exitStatus;
    for (const zav::cli::ParsedOption& option : args.options) {
        if (option.id == kVersion)
            return zav::cli::RunVersion();
    }
    if (args.operands.empty())
        return zav::cli::UsageError(kProgram, "name a command or capture files");
    return zav::cli::RunRender(static_cast<int>(args.operands.size()), args.operands.data());
}

} // namespace

int main(int argc, char** argv) {
    const zav::cli::ProgramConsole console;
    // Every word in UTF-8, as every name inside the program is.
    std::vector<std::string> words = zav::cli::ProgramArguments(argc, argv);
    std::vector<char*> args;
    for (std::string& word : words)
        args.push_back(word.data());
    args.push_back(nullptr);
    const int status = Dispatch(static_cast<int>(words.size()), args.data());
    // What was printed is part of the result: a full disk or a closed pipe
    // behind standard output is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zavprint: standard output could not be written\n");
        return status != 0 ? status : 1;
    }
    return status;
}
