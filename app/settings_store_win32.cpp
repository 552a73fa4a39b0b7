// The remembered port in the current user's registry.
#include "settings_store.h"

#include <windows.h>

static const wchar_t SETTINGS_KEY[] = L"Software\\Ostrel\\TQ734 Updater";
static const wchar_t PORT_VALUE[] = L"COMport";

// Reads COMport whatever its stored type; a value shorter than 4 bytes is zero-filled.
uint16_t load_port()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    BYTE stored[4] = {0, 0, 0, 0};
    DWORD size = sizeof stored;
    LONG result = RegQueryValueExW(key, PORT_VALUE, nullptr, nullptr, stored, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return 0;
    return static_cast<uint16_t>(stored[0] | stored[1] << 8);
}

// Stores the port as a REG_DWORD; failures change nothing for the caller.
void remember_port(uint16_t port)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD value = port;
    RegSetValueExW(key, PORT_VALUE, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}
