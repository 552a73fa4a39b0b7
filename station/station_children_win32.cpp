// The updater children on Windows: each started without a console window, its output on a
// pipe read from the window's timer, its exit code taken once it has ended. A job object
// ends them all should the station itself end without stopping them.
#include <windows.h>

#include "child_arguments.h"
#include "station_children.h"
#include "station_run.h"

namespace {

struct Child {
    HANDLE process;
    HANDLE out;            // the read end of its output pipe
    bool later;            // a start is due at later_from + later_ms
    DWORD later_from, later_ms;
    ChildKind later_kind;
};
Child children[STATION_MAX_PORTS];
HANDLE job;

// A UTF-8 text as a wide one; empty when it does not convert.
bool wide_of(const char* text, wchar_t* out, int capacity)
{
    return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, capacity) > 0;
}

void make_job()
{
    if (job)
        return;
    job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// Whatever the pipe holds now.
void drain(unsigned slot)
{
    Child& c = children[slot];
    char bytes[4096];
    for (;;) {
        DWORD available = 0, got = 0;
        if (!PeekNamedPipe(c.out, nullptr, 0, nullptr, &available, nullptr) || available == 0)
            return;
        if (available > sizeof bytes)
            available = sizeof bytes;
        if (!ReadFile(c.out, bytes, available, &got, nullptr) || got == 0)
            return;
        station_child_output(slot, bytes, got);
    }
}

}  // namespace

bool platform_child_start(unsigned slot, const ChildArguments& arguments)
{
    static char line[8192];
    static wchar_t wide_line[8192], program[2048];
    if (!windows_command_line(arguments, line, sizeof line) || !wide_of(line, wide_line, 8192) ||
        !wide_of(arguments.words[0], program, 2048))
        return false;
    make_job();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 1 << 16))
        return false;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    PROCESS_INFORMATION started = {};
    BOOL ok = CreateProcessW(program, wide_line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                             nullptr, &startup, &started);
    CloseHandle(write_end);
    if (!ok) {
        CloseHandle(read_end);
        return false;
    }
    if (job)
        AssignProcessToJobObject(job, started.hProcess);
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    children[slot].process = started.hProcess;
    children[slot].out = read_end;
    return true;
}

void platform_child_start_later(unsigned slot, ChildKind kind, unsigned delay_ms)
{
    Child& c = children[slot];
    c.later = true;
    c.later_from = GetTickCount();
    c.later_ms = delay_ms;
    c.later_kind = kind;
}

// Ends it at once with 127, as an update that did not complete ends.
void platform_child_stop(unsigned slot)
{
    Child& c = children[slot];
    c.later = false;
    if (c.process)
        TerminateProcess(c.process, 127);
}

void children_poll()
{
    for (unsigned slot = 0; slot < port_slot_count; ++slot) {
        Child& c = children[slot];
        if (c.later && GetTickCount() - c.later_from >= c.later_ms) {
            c.later = false;
            station_start_child(slot, c.later_kind);
        }
        if (!c.process)
            continue;
        drain(slot);
        if (WaitForSingleObject(c.process, 0) != WAIT_OBJECT_0)
            continue;
        drain(slot);
        DWORD code = 0;
        GetExitCodeProcess(c.process, &code);
        CloseHandle(c.process);
        CloseHandle(c.out);
        c.process = c.out = nullptr;
        // Exit codes are 0-255; anything above is the system's code of a crash (0xC0000005 …).
        station_child_ended(slot, code > 255 ? ChildEnd::Signalled : ChildEnd::Exited, code);
    }
}
