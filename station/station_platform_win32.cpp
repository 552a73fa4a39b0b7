// The station's platform pieces on Windows: port names, the updater's path.
#include "station_platform.h"

#include <windows.h>

#include <cstdio>

void port_display_name(uint16_t port, char* out, unsigned capacity)
{
    std::snprintf(out, capacity, "COM%u", unsigned(port));
}

// tq734-updater.exe beside tq734-station.exe, as UTF-8; TQ734_UPDATER first when set.
bool find_updater(char* out, unsigned capacity)
{
    wchar_t path[MAX_PATH + 32];
    DWORD n = GetEnvironmentVariableW(L"TQ734_UPDATER", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH)
            return false;
        wchar_t* slash = path + n;
        while (slash > path && slash[-1] != L'\\' && slash[-1] != L'/')
            --slash;
        lstrcpyW(slash, L"tq734-updater.exe");
    }
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return false;
    return WideCharToMultiByte(CP_UTF8, 0, path, -1, out, int(capacity), nullptr, nullptr) > 0;
}
