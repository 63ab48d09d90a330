// Fake FTDI D2XX driver for tests. The file named by ZAV_FTD2XX_CONFIG holds
// one setting a line:
//   absent                      the library refuses to load
//   count <status>              FT_ListDevices for the count answers this status
//   device <com> <list> <open> <description>
//                               one device: its COM number (-1: none), the
//                               status of listing its description or serial
//                               number (0 OK, 1 or 3 busy, other: error), the
//                               status of FT_Open
//   serial <text>               the serial number of the device listed last
//                               (without it: none, an empty text)
//   trace <path>                append "open <index>" / "close <index>" lines
// Without the variable or the file there are no devices.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Device {
    long com = -1;
    unsigned long listStatus = 0;
    unsigned long openStatus = 0;
    std::string description;
    std::string serial;
};

struct Config {
    bool absent = false;
    unsigned long countStatus = 0;
    std::vector<Device> devices;
    std::string trace;
};

Config Load() {
    Config config;
    char path[1024];
    DWORD got = GetEnvironmentVariableA("ZAV_FTD2XX_CONFIG", path, sizeof path);
    if (got == 0 || got >= sizeof path)
        return config;
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return config;
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        line[std::strcspn(line, "\r\n")] = '\0';
        char word[32] = {};
        int used = 0;
        if (std::sscanf(line, "%31s %n", word, &used) < 1)
            continue;
        const char* rest = line + used;
        if (std::strcmp(word, "absent") == 0) {
            config.absent = true;
        } else if (std::strcmp(word, "count") == 0) {
            config.countStatus = std::strtoul(rest, nullptr, 10);
        } else if (std::strcmp(word, "trace") == 0) {
            config.trace = rest;
        } else if (std::strcmp(word, "serial") == 0) {
            if (!config.devices.empty())
                config.devices.back().serial = rest;
        } else if (std::strcmp(word, "device") == 0) {
            Device d;
            int n = 0;
            if (std::sscanf(rest, "%ld %lu %lu %n", &d.com, &d.listStatus, &d.openStatus, &n) >=
                3) {
                d.description = rest + n;
                config.devices.push_back(d);
            }
        }
    }
    std::fclose(f);
    return config;
}

[[maybe_unused]] void Trace(const char* what, int index) {
    Config config = Load();
    if (config.trace.empty())
        return;
    if (FILE* f = std::fopen(config.trace.c_str(), "ab")) {
        std::fprintf(f, "%s %d\n", what, index);
        std::fclose(f);
    }
}

// A handle is the device index plus one.
int IndexOf(PVOID handle) {
    return static_cast<int>(reinterpret_cast<ULONG_PTR>(handle)) - 1;
}

} // namespace

#define FAKE_EXPORT extern "C" __declspec(dllexport)

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH && Load().absent)
        return FALSE;
    return TRUE;
}

FAKE_EXPORT ULONG WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    Config config = Load();
    if (flags == 0x80000000) {
        if (config.countStatus != 0)
            return config.countStatus;
        *static_cast<DWORD*>(arg1) = static_cast<DWORD>(config.devices.size());
        return 0;
    }
    // FT_LIST_BY_INDEX with FT_OPEN_BY_DESCRIPTION or FT_OPEN_BY_SERIAL_NUMBER.
    if (flags == 0x40000002 || flags == 0x40000001) {
        auto index = static_cast<std::size_t>(reinterpret_cast<ULONG_PTR>(arg1));
        if (index >= config.devices.size())
            return 2; // FT_DEVICE_NOT_FOUND
        const Device& d = config.devices[index];
        if (d.listStatus != 0)
            return d.listStatus;
        char* out = static_cast<char*>(arg2);
        const std::string& text = flags == 0x40000002 ? d.description : d.serial;
        std::strncpy(out, text.c_str(), 63);
        out[63] = '\0';
        return 0;
    }
    return 4; // FT_INVALID_PARAMETER
}

#ifndef FAKE_LACK_OPEN_CLOSE
FAKE_EXPORT ULONG WINAPI FT_Open(int index, PVOID* handle) {
    Config config = Load();
    if (index < 0 || static_cast<std::size_t>(index) >= config.devices.size())
        return 2;
    if (config.devices[static_cast<std::size_t>(index)].openStatus != 0)
        return config.devices[static_cast<std::size_t>(index)].openStatus;
    *handle = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(index + 1));
    Trace("open", index);
    return 0;
}

FAKE_EXPORT ULONG WINAPI FT_Close(PVOID handle) {
    Trace("close", IndexOf(handle));
    return 0;
}
#endif

FAKE_EXPORT ULONG WINAPI FT_GetComPortNumber(PVOID handle, LONG* port) {
    Config config = Load();
    int index = IndexOf(handle);
    if (index < 0 || static_cast<std::size_t>(index) >= config.devices.size())
        return 1; // FT_INVALID_HANDLE
    *port = config.devices[static_cast<std::size_t>(index)].com;
    return 0;
}

#ifndef FAKE_LACK_LINE_CONTROL
FAKE_EXPORT ULONG WINAPI FT_SetDtr(PVOID) {
    return 0;
}
#endif
FAKE_EXPORT ULONG WINAPI FT_ClrDtr(PVOID) {
    return 0;
}
FAKE_EXPORT ULONG WINAPI FT_ClrRts(PVOID) {
    return 0;
}
FAKE_EXPORT ULONG WINAPI FT_GetModemStatus(PVOID, ULONG* status) {
    *status = 0;
    return 0;
}
FAKE_EXPORT ULONG WINAPI FT_SetEventNotification(PVOID, DWORD, PVOID) {
    return 0;
}
