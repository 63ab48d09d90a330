#include <cstdio>
#include <cstring>
#include <string>

#include "app/cli.h"
#include "capture/cable.h"

namespace zav::cli {

void PrintPortsHelp() {
    std::printf("  zavprint ports [--sysfs DIR] [--dev DIR]\n"
                "      Lists every serial port with its USB product text, marks the\n"
                "      print cable (\"ZAV Print\") and shows the model text it answers.\n"
                "      --sysfs and --dev replace /sys and /dev.\n");
}

int RunPorts(int argc, char** argv) {
    SerialRoots roots;
    for (int i = 0; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--sysfs") == 0 && hasValue) {
            roots.sys = argv[++i];
        } else if (std::strcmp(argv[i], "--dev") == 0 && hasValue) {
            roots.dev = argv[++i];
        } else {
            std::fprintf(stderr, "zavprint ports: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    std::vector<SerialPortInfo> ports = ListSerialPorts(roots);
    if (ports.empty()) {
        std::printf("No serial ports.\n");
        return 0;
    }
    std::printf("%-12s %-24s %s\n", "Port", "Description", "Print cable");
    for (const SerialPortInfo& port : ports) {
        std::string cable;
        if (port.cable) {
            std::string model;
            cable = ReadModelFrom(roots.dev + "/" + port.name, model) ? "yes, model " + model
                                                                      : "yes, no model answer";
        }
        std::printf("%-12s %-24s %s\n", port.name.c_str(), port.description.c_str(), cable.c_str());
    }
    return 0;
}

} // namespace zav::cli
