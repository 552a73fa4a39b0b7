// Requests to tq_pty over a second COM port, with plain blocking Win32 reads.
#include "control_line.h"

#include <windows.h>

#include <cstdio>

static HANDLE control = INVALID_HANDLE_VALUE;

bool control_open()
{
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", CONTROL_PORT);
    control = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (control == INVALID_HANDLE_VALUE)
        return false;
    COMMTIMEOUTS timeouts = {0, 0, 5000, 0, 0};
    SetCommTimeouts(control, &timeouts);
    return true;
}

std::string control_ask(const std::string& request)
{
    std::string line = request + "\n";
    DWORD done = 0;
    if (!WriteFile(control, line.data(), static_cast<DWORD>(line.size()), &done, nullptr))
        return "";
    std::string reply;
    for (;;) {
        char c;
        DWORD got = 0;
        if (!ReadFile(control, &c, 1, &got, nullptr) || got == 0)
            return "";
        if (c == '\n')
            return reply;
        reply += c;
    }
}

bool control_send(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string request = "send ";
    for (uint8_t b : bytes) {
        request += digits[b >> 4];
        request += digits[b & 15];
    }
    return control_ask(request) == "ok";
}

std::vector<uint8_t> control_take(unsigned quiet_ms)
{
    std::string reply = control_ask("take " + std::to_string(quiet_ms));
    std::vector<uint8_t> bytes;
    if (reply.rfind("data ", 0) != 0)
        return bytes;
    for (size_t i = 5; i + 1 < reply.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(reply.substr(i, 2), nullptr, 16)));
    return bytes;
}

void control_close()
{
    if (control != INVALID_HANDLE_VALUE)
        CloseHandle(control);
    control = INVALID_HANDLE_VALUE;
}

bool pump_until(bool (*done)(), unsigned ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        if (done && done())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(1);
    }
}

void pump_messages(unsigned ms)
{
    pump_until(nullptr, ms);
}
