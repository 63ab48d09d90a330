// zavprint: the Linux command-line program. The first word picks a
// subcommand; a plain file name means "render".
#include <cstdio>
#include <cstring>

#include "app/cli.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    void (*help)();
};

constexpr Command kCommands[] = {
    {"render", zav::cli::RunRender, zav::cli::PrintRenderHelp},
    {"ports", zav::cli::RunPorts, zav::cli::PrintPortsHelp},
    {"finish", zav::cli::RunFinish, zav::cli::PrintFinishHelp},
    {"capture", zav::cli::RunCapture, zav::cli::PrintCaptureHelp},
    {"view", zav::cli::RunView, zav::cli::PrintViewHelp},
};

void PrintHelp() {
    std::printf("zavprint: turns instrument printouts (capture files) into page bitmaps.\n\n"
                "Usage:\n");
    for (const Command& c : kCommands)
        c.help();
    std::printf("  zavprint --help\n      Shows this text.\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp();
        return 2;
    }
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 ||
        std::strcmp(first, "help") == 0) {
        PrintHelp();
        return 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(first, c.name) == 0)
            return c.run(argc - 2, argv + 2);
    }
    // Options of rendering may come before the capture files.
    if (std::strcmp(first, "--pdf") == 0 || std::strcmp(first, "--paper") == 0)
        return zav::cli::RunRender(argc - 1, argv + 1);
    if (first[0] == '-') {
        std::fprintf(stderr, "zavprint: unknown option %s (see zavprint --help)\n", first);
        return 2;
    }
    return zav::cli::RunRender(argc - 1, argv + 1);
}
