// The update engine with the real Win32 serial channel and a bare message loop, no window:
// runs one automatic update on COM<port> and prints its outcome and timing.
//   engine_transfer PORT [TIMEOUT_S]      exit code: the engine's, or 3 on timeout
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "engine_host.h"
#include "frame_codec.h"
#include "serial_channel.h"
#include "update_engine.h"

uint16_t port_number;

namespace {
UINT_PTR reply_timer = 0;
UINT_PTR tick_timer = 0;
unsigned messages_shown = 0;
unsigned remembered = 0;
int last_block = -1;

VOID CALLBACK reply_expired(HWND, UINT, UINT_PTR, DWORD) { on_reply_timer(); }
VOID CALLBACK tick_expired(HWND, UINT, UINT_PTR, DWORD) { on_tick(); }
}  // namespace

// The host the engine needs, without a dialog.
void set_status(const wchar_t*, uint8_t) {}
void set_info(const wchar_t*, uint8_t) {}
void set_block_progress(int position) { last_block = position; }
void set_activity(int) {}
void enter_transfer_view() {}
void show_message(const wchar_t*, const wchar_t*, MessageKind) { ++messages_shown; }
void start_reply_timer(unsigned ms)
{
    if (reply_timer)
        KillTimer(nullptr, reply_timer);
    reply_timer = SetTimer(nullptr, 0, ms, reply_expired);
}
void stop_reply_timer()
{
    if (reply_timer)
        KillTimer(nullptr, reply_timer);
    reply_timer = 0;
}
void end_dialog() { PostQuitMessage(0); }
void remember_port(uint16_t port) { remembered = port; }

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    port_number = uint16_t(_wtoi(argv[1]));
    DWORD timeout_ms = DWORD(argc > 2 ? _wtoi(argv[2]) : 240) * 1000;
    build_crc_table();
    engine_reset();
    if (!channel_open(0, uint8_t(port_number), 115200, 1, 8192, 1024, on_receive)) {
        std::printf("cannot open COM%u\n", port_number);
        return 4;
    }
    update_engine.auto_mode = 1;
    update_engine.state = AutoStartPending;
    tick_timer = SetTimer(nullptr, 0, 100, tick_expired);
    DWORD start = GetTickCount();
    MSG msg;
    bool timed_out = false;
    for (;;) {
        if (GetTickCount() - start > timeout_ms) {
            timed_out = true;
            break;
        }
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        if (msg.message == WM_QUIT)
            break;
        DispatchMessageW(&msg);
    }
    DWORD elapsed = GetTickCount() - start;
    std::printf("exit_code=%u elapsed_ms=%lu last_block=%d remembered=%u messages=%u timed_out=%d\n",
                update_engine.exit_code, (unsigned long)elapsed, last_block, remembered, messages_shown,
                timed_out ? 1 : 0);
    std::fflush(stdout);
    return timed_out ? 3 : update_engine.exit_code;
}
