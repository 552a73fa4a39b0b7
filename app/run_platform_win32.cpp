#include "run_platform.h"

#include <windows.h>

namespace {
HANDLE output;
}

// GetTickCount wraps after 49 days; differences across the wrap still come out right.
uint32_t monotonic_ms()
{
    return GetTickCount();
}

LocalTime local_time_now()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    DWORD kind = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (kind == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (kind == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                     static_cast<int>(-bias)};
}

void pause_ms(unsigned milliseconds)
{
    Sleep(milliseconds);
}

// A program of the GUI subsystem has standard output only when its parent redirected it:
// a file (cmd's ">") or a pipe (PowerShell's -RedirectStandardOutput). A console is not used.
bool log_output_open()
{
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE)
        return false;
    output = handle;
    return true;
}

void log_output_write(const char* bytes, unsigned length)
{
    DWORD written = 0;
    if (output)
        WriteFile(output, bytes, length, &written, nullptr);
}
