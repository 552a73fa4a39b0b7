// The remembered port in the current user's registry.
#include "settings_store.h"

#include <windows.h>

static const wchar_t SETTINGS_KEY[] = L"Software\\Ostrel\\TQ734 Updater";
static const wchar_t PORT_VALUE[] = L"COMport";
static const wchar_t STATION_VALUE[] = L"StationPorts";

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

// StationPorts, a REG_SZ of COMn words; anything else reads as nothing stored.
bool load_station_ports(char* text, unsigned capacity)
{
    HKEY key;
    if (capacity == 0 || RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    wchar_t stored[STATION_PORTS_CAPACITY + 1] = {};
    DWORD size = sizeof stored - sizeof(wchar_t);
    DWORD type = 0;
    LONG result = RegQueryValueExW(key, STATION_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    unsigned n = 0;
    for (const wchar_t* c = stored; *c && n + 1 < capacity; ++c)
        text[n++] = *c < 128 ? static_cast<char>(*c) : '?';
    text[n] = 0;
    return n > 0;
}

void remember_station_ports(const char* text)
{
    wchar_t value[STATION_PORTS_CAPACITY + 1];
    unsigned n = 0;
    for (; text[n] && n < STATION_PORTS_CAPACITY; ++n)
        value[n] = static_cast<unsigned char>(text[n]);
    value[n] = 0;
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, STATION_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), (n + 1) * sizeof(wchar_t));
    RegCloseKey(key);
}
