#include "app/settings.h"

#include "host/regkey_win32.h"

#include <cstring>

namespace zav {

namespace {

bool OpenSettingsKey(REGSAM access, RegKey& reg) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, const_cast<char*>(""), 0, access,
                           nullptr, &reg.key, nullptr) == ERROR_SUCCESS;
}

} // namespace

void LoadSettings(HQUOR store) {
    RegKey reg;
    if (!OpenSettingsKey(KEY_QUERY_VALUE, reg))
        return;
    for (const char* name : kSettingNames) {
        char buf[kSettingBufferSize];
        DWORD size = sizeof buf;
        DWORD type = REG_NONE;
        if (RegQueryValueExA(reg.key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
            ERROR_SUCCESS)
            continue; // missing, or more than the buffer holds
        if (SettingTextFromValue(type, buf, size))
            quorSetString(store, name, buf);
    }
}

bool SaveSettings(HQUOR store) {
    if (quorGetType(store, kSettingNames[0]) == QUOR_NONE)
        return true;
    RegKey reg;
    if (!OpenSettingsKey(KEY_WRITE | KEY_QUERY_VALUE, reg))
        return false;
    for (const char* name : kSettingNames) {
        if (quorGetType(store, name) == QUOR_NONE)
            continue;
        char buf[kSettingBufferSize];
        if (quorGetString(store, name, buf, sizeof buf) < 0)
            continue;
        RegSetValueExA(reg.key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(buf),
                       static_cast<DWORD>(std::strlen(buf) + 1));
    }
    return true;
}

} // namespace zav
