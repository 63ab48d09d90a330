// Dialog positions between runs: one REG_SZ "x,y" per dialog under the
// program's settings key.
#include "host/trel.h"

#include "host/registry_keys.h"
#include "host/regkey_win32.h"

#include <cstdio>
#include <cstring>

namespace {

// True when a display shows the point, so a dialog placed there can be seen.
bool OnSomeDisplay(int x, int y) {
    POINT p{x, y};
    return MonitorFromPoint(p, MONITOR_DEFAULTTONULL) != nullptr;
}

} // namespace

int trelGetDialogXY(HQUOR presentation) {
    if (!presentation)
        return 0;
    zav::RegKey reg;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, zav::kPositionsKey, 0, KEY_QUERY_VALUE, &reg.key) !=
        ERROR_SUCCESS)
        return 0;
    int loaded = 0;
    for (DWORD index = 0;; ++index) {
        char name[zav::kDialogNameSize];
        char data[32];
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        LONG status = RegEnumValueA(reg.key, index, name, &nameSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue; // too long or not ours: leave it
        data[dataSize] = '\0';
        int x = 0;
        int y = 0;
        if (zav::ParseDialogPos(data, &x, &y) && OnSomeDisplay(x, y) &&
            trelSetDialogPos(presentation, name, x, y))
            ++loaded;
    }
    return loaded;
}

int trelSaveDialogXY(HQUOR presentation) {
    int rows = presentation ? quorTableRowCount(presentation, zav::kDialogPosField) : -1;
    if (rows <= 0)
        return 0;
    zav::RegKey reg;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, zav::kPositionsKey, 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &reg.key, nullptr) != ERROR_SUCCESS)
        return 0;
    int saved = 0;
    for (int row = 0; row < rows; ++row) {
        char name[zav::kDialogNameSize];
        int x = 0;
        int y = 0;
        if (quorTableGetField(presentation, zav::kDialogPosField, row, 0, name, sizeof name) < 0 ||
            !trelGetDialogPos(presentation, name, &x, &y))
            continue;
        char text[32];
        int n = std::snprintf(text, sizeof text, "%d,%d", x, y);
        if (RegSetValueExA(reg.key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           static_cast<DWORD>(n + 1)) == ERROR_SUCCESS)
            ++saved;
    }
    return saved;
}
