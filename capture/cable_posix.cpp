#include "capture/cable.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "capture/serial.h"
#include "host/ascii.h"

namespace zav {
namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// True when both paths lead to one device: two device nodes of one device
// number, or one file (std::filesystem::equivalent refuses device nodes).
bool IsSameDevice(const std::string& a, const std::string& b) {
    struct stat x, y;
    if (stat(a.c_str(), &x) != 0 || stat(b.c_str(), &y) != 0)
        return false;
    if (S_ISCHR(x.st_mode) && S_ISCHR(y.st_mode))
        return x.st_rdev == y.st_rdev;
    return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// A text of the USB device a tty hangs off ("product", "serial"): the first
// such file from the tty's device folder upwards (ttyUSB: two levels up,
// through the interface; ttyACM: one), never above the sysfs root.
std::string UsbTextOf(const std::string& sysRoot, const std::string& name, const char* what) {
    std::string root = RealPath(sysRoot);
    std::string dir = RealPath(sysRoot + "/class/tty/" + name + "/device");
    if (root.empty() || dir.empty())
        return {};
    for (int level = 0; level < 4 && dir.size() > root.size() && dir.starts_with(root); ++level) {
        if (Exists(dir + "/" + what))
            return FirstLine(dir + "/" + what);
        dir.erase(dir.find_last_of('/'));
    }
    return {};
}

std::string ProductOf(const std::string& sysRoot, const std::string& name) {
    return UsbTextOf(sysRoot, name, "product");
}

bool IsUsbSerialName(std::string_view name) {
    return name.starts_with("ttyUSB") || name.starts_with("ttyACM");
}

// Orders names by their text, numbers by value: ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = a.find_first_of("0123456789"), j = b.find_first_of("0123456789");
    std::string_view stemA(a.data(), i == std::string::npos ? a.size() : i);
    std::string_view stemB(b.data(), j == std::string::npos ? b.size() : j);
    if (stemA != stemB)
        return stemA < stemB;
    long x = i == std::string::npos ? -1 : std::strtol(a.c_str() + i, nullptr, 10);
    long y = j == std::string::npos ? -1 : std::strtol(b.c_str() + j, nullptr, 10);
    return x != y ? x < y : a < b;
}

// Keeps nothing between runs: Linux has no registry value for the choice.
class NothingRemembered : public RememberedValue {
  public:
    bool Read(std::string&) override { return false; }
    void Write(const std::string&) override {}
};

} // namespace

std::vector<SerialPortInfo> ListSerialPorts(const SerialRoots& roots) {
    std::vector<SerialPortInfo> ports;
    std::string classDir = roots.sys + "/class/tty";
    // Without a sysfs to read (a container), /dev/zavprint is still the cable.
    DIR* dir = opendir(classDir.c_str());
    while (dir != nullptr) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr)
            break;
        std::string name = entry->d_name;
        if (name == "." || name == ".." || !Exists(classDir + "/" + name + "/device"))
            continue;
        // A legacy port slot without hardware.
        if (name.starts_with("ttyS") && FirstLine(classDir + "/" + name + "/type") == "0")
            continue;
        SerialPortInfo info;
        info.name = name;
        info.description = ProductOf(roots.sys, name);
        info.cable = IsUsbSerialName(name) && IsCableDescription(info.description);
        ports.push_back(std::move(info));
    }
    if (dir != nullptr)
        closedir(dir);
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return NaturalLess(a.name, b.name);
    });
    const std::string link = roots.dev + "/" + kCableLinkName;
    if (Exists(link)) {
        auto named = std::find_if(ports.begin(), ports.end(), [&](const SerialPortInfo& port) {
            return IsSameDevice(link, roots.dev + "/" + port.name);
        });
        if (named != ports.end()) {
            named->cable = true;
            named->link = kCableLinkName;
        } else {
            ports.insert(ports.begin(), SerialPortInfo{kCableLinkName, "", true, kCableLinkName});
        }
    }
    return ports;
}

std::string FindCableDevice(const SerialRoots& roots) {
    const std::vector<SerialPortInfo> ports = ListSerialPorts(roots);
    for (const SerialPortInfo& port : ports) {
        if (!port.link.empty())
            return PortDevice(roots, port.link);
    }
    for (const SerialPortInfo& port : ports) {
        if (port.cable)
            return PortDevice(roots, port.name);
    }
    return {};
}

std::string CableSerialOf(const SerialRoots& roots, const std::string& device) {
    const std::string real = RealPath(device);
    const std::string name = real.substr(real.find_last_of('/') + 1);
    for (const SerialPortInfo& port : ListSerialPorts(roots)) {
        if (port.name == name || IsSameDevice(device, roots.dev + "/" + port.name))
            return UsbTextOf(roots.sys, port.name, "serial");
    }
    return {};
}

std::string PortDevice(const SerialRoots& roots, const std::string& name) {
    return roots.dev + "/" + name;
}

int FindPrintCableIn(HQUOR store, const SerialRoots& roots, RememberedValue& remembered) {
    TableHolder cables(CreateCableTable());
    for (const SerialPortInfo& port : ListSerialPorts(roots)) {
        if (port.cable)
            AppendRow(cables.get(), port.name);
    }
    int result = StoreCableTable(store, cables.get());
    std::string port1 = ChoosePort1(store, remembered);
    std::string model;
    // A port text is a device name; anything with a separator is no such name.
    if (!port1.empty() && port1.find('/') == std::string::npos &&
        ReadModelFrom(PortDevice(roots, port1), model))
        quorSetString(store, "Model", model.c_str());
    return result;
}

int FindPrintCable(HQUOR store) {
    NothingRemembered remembered;
    return FindPrintCableIn(store, SerialRoots{}, remembered);
}

int AddCableDescriptionsIn(HTABLE table, const SerialRoots& roots) {
    char cell[PATH_MAX];
    for (int row = 0, rows = tableRowCount(table); row < rows; ++row) {
        if (tableGetField(table, row, 0, cell, sizeof cell) < 0 ||
            std::strchr(cell, '/') != nullptr)
            continue;
        std::string product = ProductOf(roots.sys, cell);
        if (!product.empty())
            tableSetField(table, row, 1, product.c_str());
    }
    return 0;
}

int AddCableDescriptions(HTABLE table) {
    return AddCableDescriptionsIn(table, SerialRoots{});
}

int ScanPortsIn(HQUOR store, const char* field, const SerialRoots& roots) {
    TableHolder ports(CreatePortTable());
    for (const SerialPortInfo& port : ListSerialPorts(roots)) {
        std::string row = port.name + '\0' + port.description + '\0';
        tableSetRow(ports.get(), TABLE_ROW_APPEND, row.data(), static_cast<int>(row.size()));
    }
    SetPortTableHeadings(ports.get());
    quorSetTable(store, field, ports.get());
    return 0;
}

int ScanPorts(HQUOR store, const char* field) {
    return ScanPortsIn(store, field, SerialRoots{});
}

} // namespace zav
