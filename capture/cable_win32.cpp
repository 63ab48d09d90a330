#include "capture/cable.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/system.h"
#include "capture/serial.h"
#include "host/registry_keys.h"

namespace zav {
namespace {

// The FTDI D2XX driver, loaded for one call and released with it.
using FtStatus = ULONG;
using FtHandle = PVOID;
using FtListDevices = FtStatus(WINAPI*)(PVOID, PVOID, DWORD);
using FtOpen = FtStatus(WINAPI*)(int, FtHandle*);
using FtClose = FtStatus(WINAPI*)(FtHandle);
using FtGetComPortNumber = FtStatus(WINAPI*)(FtHandle, LPLONG);

constexpr FtStatus kFtOk = 0;
constexpr DWORD kListNumberOnly = 0x80000000;
constexpr DWORD kListByIndexDescription = 0x40000002; // FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION
constexpr DWORD kListByIndexSerial = 0x40000001;      // FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER

using Description = std::array<char, kDescriptionSize>;

class D2xx {
  public:
    D2xx() : module_(LoadLibraryA("ftd2xx.dll")) {
        list_ = Find<FtListDevices>("FT_ListDevices");
        open_ = Find<FtOpen>("FT_Open");
        close_ = Find<FtClose>("FT_Close");
        getPort_ = Find<FtGetComPortNumber>("FT_GetComPortNumber");
    }
    ~D2xx() {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    D2xx(const D2xx&) = delete;
    D2xx& operator=(const D2xx&) = delete;

    // The library is there and can list devices.
    bool CanList() const { return list_ != nullptr; }
    // It can also tell a device's COM port.
    bool CanAskPorts() const {
        return open_ != nullptr && close_ != nullptr && getPort_ != nullptr;
    }

    template <typename Fn> Fn Find(const char* name) const {
        if (module_ == nullptr)
            return nullptr;
        FARPROC proc = GetProcAddress(module_, name);
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
    }

    // The number of devices; false when the driver cannot tell.
    bool Count(DWORD& count) const { return list_(&count, nullptr, kListNumberOnly) == kFtOk; }

    // One text of the device at `index` (its description or serial number,
    // as `flags` asks), always terminated; the driver's status.
    FtStatus ListText(DWORD index, DWORD flags, Description& text) const {
        FtStatus status =
            list_(reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(index)), text.data(), flags);
        text.back() = '\0'; // the driver's text may fill the buffer
        return status;
    }

    // One description per device, a busy device getting `busy`. False when the
    // count or a listing failed.
    bool ListDescriptions(std::vector<Description>& out, std::string_view busy) const {
        DWORD count = 0;
        if (!Count(count))
            return false;
        out.assign(count, Description{});
        for (DWORD index = 0; index < count; ++index) {
            Description& text = out[index];
            FtStatus status = ListText(index, kListByIndexDescription, text);
            if (IsBusyListStatus(status)) {
                text.fill('\0');
                std::memcpy(text.data(), busy.data(), busy.size());
            } else if (status != kFtOk) {
                return false;
            }
        }
        return true;
    }

    // The COM port number of the device at `index`; false when it cannot be
    // opened or asked, or when it has no COM port (the driver then answers -1).
    bool DevicePort(int index, int& port) const {
        FtHandle device = nullptr;
        if (!CanAskPorts() || open_(index, &device) != kFtOk)
            return false;
        LONG number = -1;
        FtStatus status = getPort_(device, &number);
        close_(device);
        if (status != kFtOk || number < 1)
            return false;
        port = static_cast<int>(number);
        return true;
    }

  private:
    HMODULE module_;
    FtListDevices list_ = nullptr;
    FtOpen open_ = nullptr;
    FtClose close_ = nullptr;
    FtGetComPortNumber getPort_ = nullptr;
};

// Each FTDI device's COM port and description, a busy device described as
// `busy`; false when the driver cannot be asked.
bool PortDescriptions(std::vector<std::pair<int, std::string>>& out, std::string_view busy) {
    D2xx driver;
    std::vector<Description> descriptions;
    if (!driver.CanList() || !driver.ListDescriptions(descriptions, busy))
        return false;
    if (descriptions.empty())
        return true;
    if (!driver.CanAskPorts())
        return false;
    for (std::size_t index = 0; index < descriptions.size(); ++index) {
        int port = 0;
        if (driver.DevicePort(static_cast<int>(index), port))
            out.emplace_back(port, descriptions[index].data());
    }
    return true;
}

// The COM ports that can be opened now, in order.
std::vector<int> OpenablePorts() {
    std::vector<int> ports;
    for (int port = 1; port <= 255; ++port) {
        char name[32];
        std::snprintf(name, sizeof name, "\\\\.\\Com%d", port);
        HANDLE h = CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            ports.push_back(port);
        }
    }
    return ports;
}

// The registry value "Port1" beside the other settings.
class RegistryPort1 : public RememberedValue {
  public:
    RegistryPort1() {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, const_cast<char*>(""),
                            REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                            &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RegistryPort1() override {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    RegistryPort1(const RegistryPort1&) = delete;
    RegistryPort1& operator=(const RegistryPort1&) = delete;

    bool Read(std::string& text) override {
        char buffer[8] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        if (key_ == nullptr ||
            RegQueryValueExA(key_, "Port1", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &size) != ERROR_SUCCESS)
            return false;
        buffer[sizeof buffer - 1] = '\0';
        text = buffer;
        return true;
    }
    void Write(const std::string& text) override {
        if (key_ != nullptr)
            RegSetValueExA(key_, "Port1", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
    }

  private:
    HKEY key_ = nullptr;
};

} // namespace

int FindPrintCable(HQUOR store) {
    TableHolder cables(CreateCableTable());
    D2xx driver;
    if (!driver.CanList())
        return -1;
    std::vector<Description> descriptions;
    if (!driver.ListDescriptions(descriptions, kBusyCableText))
        return -1;

    // A driver without the usual line controls is not one this program knows.
    bool usable = driver.CanAskPorts() && driver.Find<FARPROC>("FT_SetDtr") != nullptr &&
                  driver.Find<FARPROC>("FT_ClrDtr") != nullptr &&
                  driver.Find<FARPROC>("FT_ClrRts") != nullptr &&
                  driver.Find<FARPROC>("FT_GetModemStatus") != nullptr &&
                  driver.Find<FARPROC>("FT_SetEventNotification") != nullptr;
    for (std::size_t index = 0; usable && index < descriptions.size(); ++index) {
        int port = 0;
        if (IsCableDescription(descriptions[index].data()) &&
            driver.DevicePort(static_cast<int>(index), port))
            AppendRow(cables.get(), PortText(port));
    }
    int result = StoreCableTable(store, cables.get());

    std::string port1;
    {
        RegistryPort1 remembered;
        port1 = ChoosePort1(store, remembered);
    }
    if (!port1.empty()) {
        SerialPort line;
        if (line.Open(PortNumberFromText(port1), kCableBaudRate, 0) == kCommOk) {
            SerialCableLine cable(line);
            ReadCableModel(store, cable);
        }
    }
    return result;
}

int AddCableDescriptions(HTABLE table) {
    std::vector<std::pair<int, std::string>> described;
    if (!PortDescriptions(described, kBusyDeviceText))
        return -1;
    for (const auto& [port, description] : described)
        SetPortDescription(table, port, description.c_str());
    return 0;
}

std::vector<SerialPortInfo> ListSerialPorts(const SerialRoots&) {
    std::vector<std::pair<int, std::string>> described;
    PortDescriptions(described, kBusyDeviceText);
    std::vector<int> numbers = OpenablePorts();
    // A cable held by another program cannot be opened, and is listed too.
    for (const auto& [port, description] : described) {
        if (std::find(numbers.begin(), numbers.end(), port) == numbers.end())
            numbers.insert(std::upper_bound(numbers.begin(), numbers.end(), port), port);
    }
    std::vector<SerialPortInfo> ports;
    for (int number : numbers) {
        SerialPortInfo info;
        info.name = "COM" + std::to_string(number);
        for (const auto& [port, description] : described) {
            if (port == number) {
                info.description = description;
                info.cable = IsCableDescription(description);
            }
        }
        ports.push_back(std::move(info));
    }
    return ports;
}

std::string PortDevice(const SerialRoots&, const std::string& name) {
    return name;
}

// The FTDI device whose COM port it is, found as FindPrintCable finds the
// cables' ports. Asked before the port is opened: the driver cannot open a
// device whose port is in use, and then the record names no serial number.
std::string CableSerialOf(const SerialRoots&, const std::string& device) {
    const int wanted = PortNumberFromText(device);
    D2xx driver;
    DWORD count = 0;
    if (wanted < 1 || !driver.CanList() || !driver.Count(count))
        return {};
    for (DWORD index = 0; index < count; ++index) {
        int port = 0;
        if (!driver.DevicePort(static_cast<int>(index), port) || port != wanted)
            continue;
        Description serial{};
        if (driver.ListText(index, kListByIndexSerial, serial) != kFtOk)
            return {};
        return serial.data();
    }
    return {};
}

std::string FindCableDevice(const SerialRoots&) {
    std::vector<std::pair<int, std::string>> described;
    PortDescriptions(described, kBusyCableText);
    for (const auto& [port, description] : described) {
        if (IsCableDescription(description))
            return "COM" + std::to_string(port);
    }
    return {};
}

int ScanPorts(HQUOR store, const char* field) {
    TableHolder ports(CreatePortTable());
    // Let the status text paint before the scan holds the thread.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    for (int port : OpenablePorts()) {
        char name[16];
        std::snprintf(name, sizeof name, "Com%d", port);
        AppendRow(ports.get(), name);
    }
    SetPortTableHeadings(ports.get());
    if (IsSupportedSystem())
        AddCableDescriptions(ports.get());
    quorSetTable(store, field, ports.get());
    return 0;
}

} // namespace zav
