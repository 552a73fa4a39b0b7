// The Windows program with -n: no window at all. The engine, the port choice and the exit
// codes are the dialog's; its timers are thread timers on this thread's message loop (the
// channel's poll is one too), a message box is a line of the log and counts as dismissed at
// once, and the port list is kept in memory.
#include <windows.h>

#include "host_win32.h"
#include "memory_port_list.h"
#include "port_selection.h"
#include "script_run.h"
#include "update_engine.h"

namespace {

UINT_PTR tick_timer, reply_timer;
bool ended;

// Every 100 ms: the silence limit and the watches, then the engine's start and end.
void CALLBACK on_tick_timer(HWND, UINT, UINT_PTR, DWORD)
{
    script_run_tick();
    on_tick();
}

// The engine's retransmission.
void CALLBACK on_reply_timer_expired(HWND, UINT, UINT_PTR, DWORD)
{
    on_reply_timer();
}

}  // namespace

void run_windowless_host()
{
    ended = false;
    select_initial_port();
    script_run_after_initial_port(false);
    tick_timer = SetTimer(nullptr, 0, 100, on_tick_timer);
    MSG message;
    while (!ended && GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    windowless_stop_reply_timer();
    KillTimer(nullptr, tick_timer);
    tick_timer = 0;
}

// What the dialog would show is already in the log (the line observer, the message lines).
void windowless_write_line_control(TextLine, const wchar_t*) {}
void windowless_set_block_progress(int) {}
void windowless_set_activity(int) {}
void windowless_enter_transfer_view() {}

// Nobody can press OK: the box is a line of the log and counts as dismissed at once.
void windowless_show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind)
{
    script_run_message(text, caption, kind);
}

// (Re)arms the reply timer with the new period.
void windowless_start_reply_timer(unsigned milliseconds)
{
    windowless_stop_reply_timer();
    reply_timer = SetTimer(nullptr, 0, milliseconds, on_reply_timer_expired);
}

// Stops the reply timer.
void windowless_stop_reply_timer()
{
    if (reply_timer)
        KillTimer(nullptr, reply_timer);
    reply_timer = 0;
}

// The engine's end of the run: the loop ends after this message.
void windowless_end_dialog()
{
    ended = true;
    PostQuitMessage(0);
}

void windowless_port_list_clear() { memory_list_clear(); }
void windowless_port_list_add(const wchar_t* text) { memory_list_add(text); }
void windowless_port_list_select_prefix(const wchar_t* text) { memory_list_select_prefix(text); }
void windowless_port_list_select_first() { memory_list_select_first(); }
void windowless_port_list_select_none() { memory_list_select_none(); }
bool windowless_port_list_selected_text(wchar_t* buffer, unsigned capacity)
{
    return memory_list_selected_text(buffer, capacity);
}
void windowless_show_buttons(bool) {}
void windowless_hide_start_button() {}
void windowless_hide_progress_bars() {}
