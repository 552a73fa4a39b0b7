#include "record_file.h"

#include <windows.h>

namespace {

constexpr unsigned PATH_CAPACITY = 1024;

// The byte range that every writer of a records file locks while it appends: past any end a
// file can reach, so that readers are never kept from the records themselves.
constexpr DWORD LOCK_OFFSET_HIGH = 0x7FFFFFFF;

}  // namespace

bool record_file_append(const char* path_utf8, const char* line, unsigned length)
{
    wchar_t path[PATH_CAPACITY];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path_utf8, -1, path, PATH_CAPACITY) == 0)
        return false;
    // Readers (a log collector, an editor) may hold the file open meanwhile.
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // The updaters of a station share one file: the lock keeps each append and its undoing
    // apart from the others'.
    OVERLAPPED range = {};
    range.OffsetHigh = LOCK_OFFSET_HIGH;
    bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range) != 0;
    LARGE_INTEGER zero = {};
    LARGE_INTEGER end = {};
    bool whole = false;
    if (SetFilePointerEx(file, zero, &end, FILE_END)) {
        // A line left unfinished (a writer killed outright) is ended first, so that this
        // record stands on its own line.
        char last = '\n';
        DWORD got = 0;
        bool ready = true;
        LARGE_INTEGER before_end = end;
        before_end.QuadPart -= 1;
        if (end.QuadPart > 0 && SetFilePointerEx(file, before_end, nullptr, FILE_BEGIN) &&
            ReadFile(file, &last, 1, &got, nullptr) && got == 1 && last != '\n') {
            DWORD ended = 0;
            ready = WriteFile(file, "\n", 1, &ended, nullptr) && ended == 1;
            if (ready)
                end.QuadPart += 1;
        }
        DWORD written = 0;
        whole = ready && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
                WriteFile(file, line, length, &written, nullptr) && written == length;
        if (!whole && written > 0) {
            // A full disk took part of the line: take it back, so that no half record stays.
            SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
            SetEndOfFile(file);
        }
    }
    bool flushed = FlushFileBuffers(file) != 0;
    if (locked)
        UnlockFileEx(file, 0, 1, 0, &range);
    CloseHandle(file);
    return whole && flushed;
}

bool default_record_path(char* out, unsigned capacity)
{
    static const wchar_t TAIL[] = L"\\TQ734 Updater\\records.jsonl";
    wchar_t path[PATH_CAPACITY];
    DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", path, PATH_CAPACITY);
    if (n == 0 || n + sizeof TAIL / sizeof TAIL[0] > PATH_CAPACITY)
        return false;
    const unsigned folder_end = n + 14;   // after "\TQ734 Updater"
    for (unsigned i = 0; TAIL[i]; ++i)
        path[n + i] = TAIL[i];
    path[n + sizeof TAIL / sizeof TAIL[0] - 1] = 0;
    path[folder_end] = 0;
    if (!CreateDirectoryW(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    path[folder_end] = L'\\';
    return WideCharToMultiByte(CP_UTF8, 0, path, -1, out, static_cast<int>(capacity), nullptr, nullptr) != 0;
}

void record_host_name(char* out, unsigned capacity)
{
    wchar_t name[256];
    DWORD size = sizeof name / sizeof name[0];
    if (capacity == 0)
        return;
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0 ||
        WideCharToMultiByte(CP_UTF8, 0, name, -1, out, static_cast<int>(capacity), nullptr, nullptr) == 0) {
        const char unknown[] = "unknown";
        unsigned i = 0;
        for (; unknown[i] && i + 1 < capacity; ++i)
            out[i] = unknown[i];
        out[i] = 0;
    }
}
