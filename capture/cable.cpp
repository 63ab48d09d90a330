#include "capture/cable.h"

#include <cstdio>
#include <cstring>

#include "capture/serial.h"

namespace zav {
namespace {

constexpr char kPortsField[] = "Ports";
constexpr char kPort1Field[] = "Port1";
constexpr char kModelField[] = "Model";
constexpr int kRowBufferSize = 260;

} // namespace

std::string PortText(int port) {
    char text[16];
    std::snprintf(text, sizeof text, "Com%d", port);
    return text;
}

HTABLE CreateCableTable() {
    HTABLE table = tableCreate(1, 0);
    if (table != nullptr)
        tableSetRow(table, TABLE_ROW_HEADING, "Port1", 6);
    return table;
}

void AppendRow(HTABLE table, std::string_view text) {
    std::string row(text);
    tableSetRow(table, TABLE_ROW_APPEND, row.c_str(), static_cast<int>(row.size() + 1));
}

int StoreCableTable(HQUOR store, HTABLE table) {
    if (table == nullptr || tableRowCount(table) == 0)
        return -1;
    quorSetTable(store, kPortsField, table);
    return 1;
}

std::string ChoosePort1(HQUOR store, RememberedValue& remembered) {
    std::string text;
    if (remembered.Read(text) && !text.empty() &&
        quorTableFindField(store, kPortsField, text.c_str(), static_cast<int>(text.size()), 0, 0) !=
            -1) {
        quorSetString(store, kPort1Field, text.c_str());
        return text;
    }
    if (quorTableRowCount(store, kPortsField) > 0) {
        char row[kRowBufferSize] = {};
        if (quorTableGetRow(store, kPortsField, 0, row, sizeof row) < 0)
            return {};
        row[sizeof row - 1] = '\0';
        quorSetString(store, kPort1Field, row);
        remembered.Write(row);
        return row;
    }
    return {};
}

bool ReadCableModel(HQUOR store, CableLine& line) {
    std::string model;
    if (!RunCableHandshake(line, model))
        return false;
    quorSetString(store, kModelField, model.c_str());
    return true;
}

HTABLE CreatePortTable() {
    return tableCreate(2, 0);
}

void SetPortTableHeadings(HTABLE table) {
    static const char kHeadings[] = "Port1\0Description\0"; // 19 bytes with the last NUL
    tableSetRow(table, TABLE_ROW_HEADING, kHeadings, sizeof kHeadings);
}

bool SetPortDescription(HTABLE table, int port, const char* description) {
    char text[16];
    int length = std::snprintf(text, sizeof text, "com%d", port);
    // The table's lookup compares whole texts without regard to case.
    int row = tableFindAbbrev(table, text, length, 0, 0);
    if (row == -1)
        return false;
    tableSetField(table, row, 1, description);
    return true;
}

bool ReadModelFrom(const std::string& device, std::string& model) {
    SerialPort port;
    if (port.Open(device.c_str(), kCableBaudRate) != kCommOk)
        return false;
    SerialCableLine line(port);
    return RunCableHandshake(line, model);
}

} // namespace zav
