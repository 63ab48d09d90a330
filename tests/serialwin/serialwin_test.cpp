// The serial port, the cable detection and the port scan on Windows, against
// COM ports that run-serialwin.sh links to ptys: COM5 and COM7 lead to
// simulated print cables (model texts "-ZP1000A" and "-ZP2000B"), COM9 and
// COM12 to nothing. The fake ftd2xx.dll beside this program reads its devices
// from the file that ZAV_FTD2XX_CONFIG names.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "capture/cable.h"
#include "capture/serial.h"
#include "host/quor.h"

namespace {

std::string Dir() {
    const char* dir = std::getenv("ZAV_SERIAL_DIR");
    return dir != nullptr ? dir : "";
}

std::string ExeDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

constexpr char kKey[] = "Software\\Tellimar\\VOVEzera\\Settings";

void SetRemembered(const char* text) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    if (text == nullptr)
        RegDeleteValueA(key, "Port1");
    else
        RegSetValueExA(key, "Port1", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
}

std::string Remembered() {
    char buf[64] = {};
    DWORD size = sizeof buf;
    if (RegGetValueA(HKEY_CURRENT_USER, kKey, "Port1", RRF_RT_REG_SZ, nullptr, buf, &size) !=
        ERROR_SUCCESS)
        return "(none)";
    return buf;
}

std::string Text(HQUOR store, const char* field) {
    char buf[300];
    return quorGetString(store, field, buf, sizeof buf) < 0 ? "(none)" : std::string(buf);
}

std::string Rows(HQUOR store, const char* field) {
    std::string all;
    for (int r = 0, n = quorTableRowCount(store, field); r < n; ++r) {
        char buf[64];
        quorTableGetRow(store, field, r, buf, sizeof buf);
        all += all.empty() ? "" : ",";
        all += buf;
    }
    return all;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class SerialWin : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Dir().empty())
            GTEST_SKIP() << "run through run-serialwin.sh";
        config_ = Dir() + "ftd2xx.cfg";
        SetEnvironmentVariableA("ZAV_FTD2XX_CONFIG", config_.c_str());
        static int n = 0;
        store_ = quorOpen(("serialwin" + std::to_string(++n)).c_str());
        ASSERT_NE(store_, nullptr);
        SetRemembered(nullptr);
        Mode(5, "normal");
        Mode(7, "normal");
        Devices("");
    }
    void TearDown() override {
        if (store_ != nullptr)
            quorClose(store_);
    }
    void Devices(const std::string& lines) { std::ofstream(config_, std::ios::binary) << lines; }
    void Mode(int port, const char* mode) {
        std::ofstream(Dir() + "mode" + std::to_string(port), std::ios::binary) << mode << "\n";
    }
    // An earlier "Ports" table in the store.
    void EarlierPorts(std::initializer_list<const char*> rows) {
        TableHolder t(zav::CreateCableTable());
        for (const char* r : rows)
            zav::AppendRow(t.get(), r);
        quorSetTable(store_, "Ports", t.get());
    }
    using TableHolder = zav::TableHolder;
    std::string config_;
    HQUOR store_ = nullptr;
};

// ---- cable detection ----------------------------------------------------

TEST_F(SerialWin, NoUsableDriverFindsNothingAndTouchesNothing) {
    SetRemembered("Com5");
    EarlierPorts({"Com5"});
    for (const char* config : {"absent\ndevice 5 0 0 ZAV Print\n", "count 4\n",
                               "device 7 0 0 ZAV Print\ndevice 5 4 0 ZAV Print\n"}) {
        SCOPED_TRACE(config);
        Devices(config);
        EXPECT_EQ(zav::FindPrintCable(store_), -1);
        EXPECT_EQ(Text(store_, "Port1"), "(none)");
        EXPECT_EQ(Text(store_, "Model"), "(none)"); // no handshake either
        EXPECT_EQ(Rows(store_, "Ports"), "Com5");
    }
}

TEST_F(SerialWin, DriverWithoutEntryPointsIsNotUsed) {
    Devices("device 5 0 0 ZAV Print\n");
    for (const char* variant : {"noopen", "nodtr"}) {
        SCOPED_TRACE(variant);
        // Loaded first, the variant is the one the next LoadLibraryA("ftd2xx.dll") gets.
        HMODULE pinned = LoadLibraryA((ExeDir() + variant + "\\ftd2xx.dll").c_str());
        ASSERT_NE(pinned, nullptr);
        EXPECT_EQ(zav::FindPrintCable(store_), -1);
        EXPECT_EQ(Rows(store_, "Ports"), "");
        FreeLibrary(pinned);
    }
    EXPECT_EQ(zav::FindPrintCable(store_), 1); // the full driver beside the program
}

TEST_F(SerialWin, NoDeviceStillChoosesFromRememberedAndEarlierTable) {
    EarlierPorts({"Com5", "Com7"});
    SetRemembered("Com7");
    EXPECT_EQ(zav::FindPrintCable(store_), -1);
    EXPECT_EQ(Text(store_, "Port1"), "Com7");
    EXPECT_EQ(Text(store_, "Model"), "VOVEzera-ZP2000B");

    SetRemembered(nullptr);
    EXPECT_EQ(zav::FindPrintCable(store_), -1);
    EXPECT_EQ(Text(store_, "Port1"), "Com5");
    EXPECT_EQ(Remembered(), "Com5");
}

TEST_F(SerialWin, RememberedPortOutsideTheCablesGetsNoHandshake) {
    SetRemembered("Com5"); // a simulator answers there, but it is no known cable
    EXPECT_EQ(zav::FindPrintCable(store_), -1);
    EXPECT_EQ(Text(store_, "Port1"), "(none)");
    EXPECT_EQ(Text(store_, "Model"), "(none)");
    EXPECT_EQ(Remembered(), "Com5");
}

TEST_F(SerialWin, OnlyFreeDevicesNamedLikeTheCableCount) {
    std::string trace = Dir() + "trace.txt";
    std::remove(trace.c_str());
    Devices("trace " + trace +
            "\n"
            "device 9 3 0 ZAV Print\n"   // busy: "In Use"
            "device 12 1 0 ZAV Print\n"  // busy as well
            "device 4 0 0 ZAV Printer\n" // another FTDI product
            "device -1 0 0 ZAV Print\n"  // driver without a COM port
            "device 11 0 18 ZAV Print\n" // cannot be opened
            "device 7 0 0 zav print\n"   // case does not matter
            "device 5 0 0 ZAV Print\n");
    EXPECT_EQ(zav::FindPrintCable(store_), 1);
    EXPECT_EQ(Rows(store_, "Ports"), "Com7,Com5"); // device-index order
    EXPECT_EQ(Text(store_, "Port1"), "Com7");
    EXPECT_EQ(Remembered(), "Com7");
    EXPECT_EQ(Text(store_, "Model"), "VOVEzera-ZP2000B");
    // Every device opened is closed again.
    EXPECT_EQ(ReadFileText(trace), "open 3\nclose 3\nopen 5\nclose 5\nopen 6\nclose 6\n");
}

TEST_F(SerialWin, RememberedCableStaysOrIsReplacedWhenItMoved) {
    Devices("device 7 0 0 ZAV Print\ndevice 5 0 0 ZAV Print\n");
    SetRemembered("Com5");
    EXPECT_EQ(zav::FindPrintCable(store_), 1);
    EXPECT_EQ(Text(store_, "Port1"), "Com5");
    EXPECT_EQ(Remembered(), "Com5");
    EXPECT_EQ(Text(store_, "Model"), "VOVEzera-ZP1000A");

    SetRemembered("Com3"); // the cable now sits elsewhere
    EXPECT_EQ(zav::FindPrintCable(store_), 1);
    EXPECT_EQ(Text(store_, "Port1"), "Com7");
    EXPECT_EQ(Remembered(), "Com7");

    SetRemembered("Com12345"); // too long for the 8-byte read: as if none
    EXPECT_EQ(zav::FindPrintCable(store_), 1);
    EXPECT_EQ(Text(store_, "Port1"), "Com7");
}

TEST_F(SerialWin, ModelOnlyFromAGoodReply) {
    Devices("device 5 0 0 ZAV Print\n");
    for (const char* mode : {"short", "wrongcase", "silent"}) {
        SCOPED_TRACE(mode);
        quorSetString(store_, "Model", "before");
        Mode(5, mode);
        DWORD start = GetTickCount();
        EXPECT_EQ(zav::FindPrintCable(store_), 1); // the handshake does not change it
        EXPECT_EQ(Text(store_, "Model"), "before");
        EXPECT_LT(GetTickCount() - start, 2000u);
    }
    Mode(5, "normal");
    EXPECT_EQ(zav::FindPrintCable(store_), 1);
    EXPECT_EQ(Text(store_, "Model"), "VOVEzera-ZP1000A");
}

// ---- the port ------------------------------------------------------------

TEST_F(SerialWin, PortHeldElsewhereOrAbsentDoesNotOpen) {
    void* h = reinterpret_cast<void*>(1);
    EXPECT_EQ(zav::OpenCommPort(6, 921600, 0, &h), zav::kCommOpenFailed); // held by another program
    EXPECT_EQ(zav::OpenCommPort(0, 921600, 0, &h), zav::kCommOpenFailed);
    EXPECT_EQ(zav::OpenCommPort(44, 921600, 0, &h), zav::kCommOpenFailed);
    EXPECT_EQ(h, reinterpret_cast<void*>(1)); // nothing stored on failure
    ASSERT_EQ(zav::OpenCommPort(9, 921600, 0, &h), 0);
    CloseHandle(h);
    ASSERT_EQ(zav::OpenCommPort(9, 921600, 0, &h), 0); // and released again
    CloseHandle(h);
}

TEST_F(SerialWin, LogOnlyWhenAskedWithItsExactLines) {
    std::string log = ExeDir() + "MonDbg.txt";
    std::remove(log.c_str());
    void* h = nullptr;
    // A log that cannot be made fails the open before the port is tried.
    ASSERT_TRUE(CreateDirectoryA(log.c_str(), nullptr));
    EXPECT_EQ(zav::OpenCommPort(12, 921600, 1, &h), zav::kCommLogFailed);
    EXPECT_EQ(h, nullptr);
    RemoveDirectoryA(log.c_str());

    ASSERT_EQ(zav::OpenCommPort(12, 921600, 0, &h), 0); // two digits open like one
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesA(log.c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_EQ(zav::OpenCommPort(12, 921600, 1, &h), 0);
    CloseHandle(h);
    EXPECT_EQ(zav::OpenCommPort(0, 921600, 5, &h), zav::kCommOpenFailed);
    std::string text = ReadFileText(log);
    const std::string good = "port:      12\nbaudrate:  921600\nflags:     1\nport 12 OK\n"
                             "port:      0\nbaudrate:  921600\nflags:     5\n"
                             "Could not open port com0, error: ";
    ASSERT_EQ(text.substr(0, good.size()), good);
    std::string code = text.substr(good.size());
    EXPECT_EQ(code.size(), 9u);
    EXPECT_EQ(code.find_first_not_of("0123456789ABCDEF"), 8u);
}

TEST_F(SerialWin, OpeningEmptiesWhatTheDeviceSentBefore) {
    HANDLE farEnd = CreateFileA((Dir() + "far12").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(farEnd, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(farEnd, "stale bytes", 11, &n, nullptr));
    Sleep(100);
    zav::SerialPort port;
    ASSERT_EQ(port.Open(12, 921600), 0);
    EXPECT_EQ(port.BytesWaiting(), 0u);
    ASSERT_TRUE(WriteFile(farEnd, "fresh", 5, &n, nullptr));
    for (int i = 0; i < 50 && port.BytesWaiting() < 5; ++i)
        Sleep(10);
    char buf[16] = {};
    EXPECT_EQ(port.Read(buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf), "fresh");
    CloseHandle(farEnd);
}

// ---- the port scan ---------------------------------------------------------

std::string Description(HQUOR store, const char* port) {
    int row = quorTableFindField(store, "ports", port, static_cast<int>(std::strlen(port)), 0, 0);
    if (row < 0)
        return "(no row)";
    char buf[64];
    quorTableGetField(store, "ports", row, 1, buf, sizeof buf);
    return buf;
}

TEST_F(SerialWin, ScanListsPortsWithTheirDeviceDescriptions) {
    Devices("device 5 0 0 ZAV Print\n"
            "device 7 3 0 ZAV Print\n" // busy but can be opened
            "device 12 0 18 FT232R\n"  // cannot be opened
            "device 31 0 0 FT232R\n"); // no such port
    EXPECT_EQ(zav::ScanPorts(store_, "ports"), 0);
    EXPECT_EQ(Description(store_, "Com5"), "ZAV Print");
    EXPECT_EQ(Description(store_, "Com7"), "Device In Use");
    EXPECT_EQ(Description(store_, "Com9"), "");
    EXPECT_EQ(Description(store_, "Com12"), "");
    EXPECT_EQ(Description(store_, "Com31"), "(no row)");
    char heading[32];
    ASSERT_GE(quorTableGetHeading(store_, "ports", 1, heading, sizeof heading), 0);
    EXPECT_STREQ(heading, "Description");
    EXPECT_EQ(Description(store_, "Com6"), "(no row)"); // held by another program
    EXPECT_EQ(Rows(store_, "Ports"), "");               // the cable table is another field
}

TEST_F(SerialWin, DescriptionsGoToTheWholePortNameOnly) {
    Devices("device 1 0 0 ZAV Print\n");
    TableHolder table(zav::CreatePortTable());
    zav::AppendRow(table.get(), "Com10");
    zav::SetPortTableHeadings(table.get());
    EXPECT_EQ(zav::AddCableDescriptions(table.get()), 0);
    char cell[64];
    tableGetField(table.get(), 0, 1, cell, sizeof cell);
    EXPECT_STREQ(cell, "");

    Devices("absent\n");
    EXPECT_EQ(zav::AddCableDescriptions(table.get()), -1);
    Devices("count 4\n");
    EXPECT_EQ(zav::AddCableDescriptions(table.get()), -1);
}

} // namespace
