#include "port_selection.h"

#include <windows.h>

// Opens and closes the port at once; only "file not found" means the port is not there.
ProbeResult probe_port(unsigned n)
{
    wchar_t name[16];
    wsprintfW(name, n <= 9 ? L"COM%d" : L"\\\\.\\COM%d", static_cast<int>(n));
    HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return ProbeResult::Present;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND ? ProbeResult::Absent : ProbeResult::Busy;
}
