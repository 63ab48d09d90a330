// Finding the print cable and listing the serial ports.
//
// FindPrintCable lists the cables (devices whose description is "ZAV Print"),
// stores their ports as the one-column table "Ports" headed "Port1", settles
// the port the capture uses (the text "Port1", remembered between runs) and
// reads the cable's model text into "Model" with the handshake.
//
// ScanPorts stores every serial port that can be opened as the two-column
// table (port, description) under a field name; AddCableDescriptions fills the
// description column from the FTDI driver.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "capture/handshake.h"
#include "host/quor.h"

namespace zav {

// 1 when at least one print cable with a port was found ("Ports" stored), -1
// otherwise. The choice of "Port1" and the handshake do not change the result.
int FindPrintCable(HQUOR store);

// Fills the port table and stores it under `field`; always 0.
int ScanPorts(HQUOR store, const char* field);

// Writes each FTDI device's description beside its port in column 1 of a port
// table; 0 when the driver could be asked, -1 when not.
int AddCableDescriptions(HTABLE table);

inline constexpr std::string_view kBusyCableText = "In Use";         // cable listing
inline constexpr std::string_view kBusyDeviceText = "Device In Use"; // port list
inline constexpr int kDescriptionSize = 64; // an FTDI device description, NUL included

// D2XX statuses that mean "the device is busy" when listing descriptions.
constexpr bool IsBusyListStatus(unsigned long status) {
    return status == 1 || status == 3;
}

// ---- pieces shared by the platforms -------------------------------------

// A value remembered between runs (the registry value "Port1" on Windows).
class RememberedValue {
  public:
    virtual ~RememberedValue() = default;
    // False when nothing could be read.
    virtual bool Read(std::string& text) = 0;
    virtual void Write(const std::string& text) = 0;
};

// Owns a value-store table and destroys it on every path.
class TableHolder {
  public:
    explicit TableHolder(HTABLE table) : table_(table) {}
    ~TableHolder() {
        if (table_ != nullptr)
            tableDestroy(table_);
    }
    TableHolder(const TableHolder&) = delete;
    TableHolder& operator=(const TableHolder&) = delete;
    HTABLE get() const { return table_; }

  private:
    HTABLE table_;
};

// "Com%d".
std::string PortText(int port);

// The cable table: one column headed "Port1".
HTABLE CreateCableTable();
// Appends a row of one text.
void AppendRow(HTABLE table, std::string_view text);
// Stores the cable table as "Ports" when it has rows: 1, else -1 (an earlier
// "Ports" then stays).
int StoreCableTable(HQUOR store, HTABLE table);

// Settles "Port1": the remembered text when the store's "Ports" table has it
// (nothing is written back); otherwise row 0 of "Ports", which is then also
// remembered. Returns the port text chosen, empty when there is none. A
// remembered port that is not among the cables is never returned: it may
// belong to another device, so nothing is sent to it.
std::string ChoosePort1(HQUOR store, RememberedValue& remembered);

// Runs the handshake on an open line and sets "Model" from a good reply.
bool ReadCableModel(HQUOR store, CableLine& line);

// The port table: two columns, headings set once the rows are in.
HTABLE CreatePortTable();
void SetPortTableHeadings(HTABLE table);
// Sets column 1 of the row of port "com<port>" (whole text, any case) to the
// description; false when the table has no such row.
bool SetPortDescription(HTABLE table, int port, const char* description);

// ---- the ports of the command line ------------------------------------
//
// Linux: a port is a terminal in <sys>/class/tty with a device behind it
// (legacy ttyS ports whose "type" reads 0 have no hardware and are left
// out). Its description is the USB product string of the device it hangs
// off; the print cable is a ttyUSB or ttyACM port whose product is "ZAV
// Print" (any case). Port texts are the device names ("ttyUSB0"), opened in
// <dev>. Windows: the COM ports that can be opened, and those of FTDI
// devices, described by the FTDI driver; the cable is a device whose
// description is "ZAV Print" (any case), as the Windows program finds it.

struct SerialRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

struct SerialPortInfo {
    std::string name;        // "ttyUSB0", "COM5"
    std::string description; // USB product string or FTDI description, empty when none
    bool cable = false;
    std::string link; // kCableLinkName when <dev>/zavprint names this port
};

// The name the package's udev rule gives the print cable in /dev.
inline constexpr const char* kCableLinkName = "zavprint";

// Every serial port, sorted by name (ttyUSB2 before ttyUSB10, COM2 before
// COM10). The port that <dev>/zavprint names is a cable and carries the
// link; when that port is not among them (no sysfs entry), the link itself
// comes first as a cable.
std::vector<SerialPortInfo> ListSerialPorts(const SerialRoots& roots);

// What SerialPort::Open takes for a listed port: <dev>/NAME on Linux, the
// port text itself on Windows.
std::string PortDevice(const SerialRoots& roots, const std::string& name);

// The print cable's device: <dev>/zavprint when it names a port, else the
// first cable ListSerialPorts marks; empty when there is none.
std::string FindCableDevice(const SerialRoots& roots);

// FindPrintCable over the given roots: the cables are the ports that
// ListSerialPorts marks, in its order.
int FindPrintCableIn(HQUOR store, const SerialRoots& roots, RememberedValue& remembered);

// The serial number of the USB device behind the port `device` (a path in
// <dev>, or a link to one); empty when the system does not tell.
std::string CableSerialOf(const SerialRoots& roots, const std::string& device);

// The handshake on one device; false (and `model` untouched) when the port
// cannot be opened or the cable gives no good reply.
bool ReadModelFrom(const std::string& device, std::string& model);

#ifndef _WIN32
// FindPrintCable over the given roots: the cables are the ports that
// ListSerialPorts marks, in its order.
int FindPrintCableIn(HQUOR store, const SerialRoots& roots, RememberedValue& remembered);

// ScanPorts and AddCableDescriptions over the given roots.
int ScanPortsIn(HQUOR store, const char* field, const SerialRoots& roots);
int AddCableDescriptionsIn(HTABLE table, const SerialRoots& roots);
#endif

} // namespace zav
