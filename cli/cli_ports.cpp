#include <cstdio>
#include <string>

#include "capture/cable.h"
#include "cli/cli.h"

namespace zav::cli {

enum PortsOption { kPortsSysfs, kPortsDev };
constexpr OptionInfo kPortsOptions[] = {
    {kPortsSysfs, "sysfs", "DIR", "read the ports from DIR instead of /sys"},
    {kPortsDev, "dev", "DIR", "open the devices in DIR instead of /dev"},
};

const CommandInfo kPortsCommand{
    .name = "ports",
    .synopsis = "ports [OPTION]...",
    .summary = "Lists every serial port with its USB product text, marks the print\n"
               "cable (\"ZAV Print\") and shows the model text it answers.",
    .options = kPortsOptions,
};

int RunPorts(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kPortsCommand, argc, argv, args))
        return args.exitStatus;
    SerialRoots roots;
    for (const ParsedOption& option : args.options) {
        switch (option.id) {
        case kPortsSysfs:
            roots.sys = option.value;
            break;
        case kPortsDev:
            roots.dev = option.value;
            break;
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
            cable = port.link.empty() ? "yes" : "yes, " + PortDevice(roots, port.link);
            cable += ReadModelFrom(PortDevice(roots, port.name), model) ? ", model " + model
                                                                        : ", no model answer";
        }
        std::printf("%-12s %-24s %s\n", port.name.c_str(), port.description.c_str(), cable.c_str());
    }
    return 0;
}

} // namespace zav::cli
