// Monitor calls without a Monitor, and the dialog positions kept in the
// presentation store.
#include "host/trel.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int monStartAppl(MonApplHandle, unsigned long, void*, int) {
    return 0;
}

int monGetQuorName(MonApplHandle, char* name) {
    if (name)
        name[0] = '\0';
    return 0;
}

void monQuitAppl(MonApplHandle) {}

std::intptr_t trelRegisterSwitchToMenu() {
    return 0;
}

std::intptr_t trelRegisterHideMenu() {
    return 0;
}

void trelUnregisterSwitchToMenu(std::intptr_t) {}

void trelUnregisterHideMenu(std::intptr_t) {}

namespace zav {

bool DialogPosKey(const char* dialog, char* key) {
    if (!dialog || !key)
        return false;
    if (*dialog == '=')
        ++dialog;
    std::size_t n = std::strlen(dialog);
    if (n == 0 || n >= static_cast<std::size_t>(kDialogNameSize))
        return false;
    for (std::size_t i = 0; i < n; ++i)
        key[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(dialog[i])));
    key[n] = '\0';
    return true;
}

namespace {

constexpr long kPosLimit = 100000;

bool ParseCoordinate(const char* text, char** end, int* value) {
    if (!std::isdigit(static_cast<unsigned char>(*text)) && *text != '-')
        return false;
    errno = 0;
    long v = std::strtol(text, end, 10);
    if (*end == text || errno != 0 || v < -kPosLimit || v > kPosLimit)
        return false;
    *value = static_cast<int>(v);
    return true;
}

} // namespace

bool ParseDialogPos(const char* text, int* x, int* y) {
    if (!text)
        return false;
    char* end = nullptr;
    int px = 0;
    int py = 0;
    if (!ParseCoordinate(text, &end, &px) || *end != ',')
        return false;
    if (!ParseCoordinate(end + 1, &end, &py) || *end != '\0')
        return false;
    *x = px;
    *y = py;
    return true;
}

} // namespace zav

int trelGetDialogPos(HQUOR presentation, const char* dialog, int* x, int* y) {
    char key[zav::kDialogNameSize];
    if (!presentation || !x || !y || !zav::DialogPosKey(dialog, key))
        return 0;
    int row = quorTableFindField(presentation, zav::kDialogPosField, key, -1, 0, 0);
    if (row < 0)
        return 0;
    char cell[16];
    if (quorTableGetField(presentation, zav::kDialogPosField, row, 1, cell, sizeof cell) < 0)
        return 0;
    int px = std::atoi(cell);
    if (quorTableGetField(presentation, zav::kDialogPosField, row, 2, cell, sizeof cell) < 0)
        return 0;
    *x = px;
    *y = std::atoi(cell);
    return 1;
}

int trelSetDialogPos(HQUOR presentation, const char* dialog, int x, int y) {
    char key[zav::kDialogNameSize];
    if (!presentation || !zav::DialogPosKey(dialog, key))
        return 0;
    // The store keeps a copy of a table: rebuild it with this row replaced or added.
    HTABLE table = tableCreate(3, 0);
    if (!table)
        return 0;
    static const char kHeadings[] = "Name\0X\0Y";
    tableSetRow(table, TABLE_ROW_HEADING, kHeadings, sizeof kHeadings);
    auto addRow = [table](const char* name, int px, int py) {
        char row[zav::kDialogNameSize + 32];
        int n = std::snprintf(row, sizeof row, "%s%c%d%c%d", name, '\0', px, '\0', py);
        tableSetRow(table, TABLE_ROW_APPEND, row, n + 1);
    };
    int rows = quorTableRowCount(presentation, zav::kDialogPosField);
    bool replaced = false;
    for (int row = 0; row < rows; ++row) {
        char name[zav::kDialogNameSize];
        int px = 0;
        int py = 0;
        if (quorTableGetField(presentation, zav::kDialogPosField, row, 0, name, sizeof name) < 0)
            continue;
        if (std::strcmp(name, key) == 0) {
            px = x;
            py = y;
            replaced = true;
        } else if (!trelGetDialogPos(presentation, name, &px, &py)) {
            continue;
        }
        addRow(name, px, py);
    }
    if (!replaced)
        addRow(key, x, y);
    int result = quorSetTable(presentation, zav::kDialogPosField, table);
    tableDestroy(table);
    return result >= 0 ? 1 : 0;
}
