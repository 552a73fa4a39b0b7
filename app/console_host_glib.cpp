// The engine's host and the port list without a window, on the GLib main loop: what the
// dialog would show goes to the log (through the line observer and the message lines).
#include "console_host.h"

#include <glib.h>

#include "engine_host.h"
#include "grid_timer.h"
#include "line_text.h"
#include "memory_port_list.h"
#include "port_selection.h"
#include "script_run.h"
#include "update_engine.h"

namespace {

GMainLoop* loop;
guint tick_timer, reply_timer;

// Timer 1: the silence limit, then the engine's automatic start and end.
gboolean on_tick_timer(gpointer)
{
    script_run_tick();
    on_tick();
    return G_SOURCE_CONTINUE;
}

// Timer 2: the engine's retransmission.
gboolean on_reply_timer_expired(gpointer)
{
    on_reply_timer();
    return G_SOURCE_CONTINUE;
}

}  // namespace

void run_console_host()
{
    loop = g_main_loop_new(nullptr, FALSE);
    select_initial_port();
    script_run_after_initial_port(false);
    // On the channel's grid, as in the window.
    tick_timer = grid_timer_add(100, on_tick_timer, nullptr);
    g_main_loop_run(loop);
    stop_reply_timer();
    if (tick_timer)
        g_source_remove(tick_timer);
    tick_timer = 0;
    g_main_loop_unref(loop);
    loop = nullptr;
}

// The log's line observer has already seen the text.
void write_line_control(TextLine, const wchar_t*) {}
void set_block_progress(int) {}
void set_activity(int) {}
void enter_transfer_view() {}

// Nobody can press OK: the box is a line of the log and counts as dismissed at once.
void show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind)
{
    script_run_message(text, caption, kind);
}

void start_reply_timer(unsigned milliseconds)
{
    stop_reply_timer();
    reply_timer = g_timeout_add(milliseconds, on_reply_timer_expired, nullptr);
}

void stop_reply_timer()
{
    if (reply_timer)
        g_source_remove(reply_timer);
    reply_timer = 0;
}

void end_dialog()
{
    if (loop)
        g_main_loop_quit(loop);
}

void port_list_clear() { memory_list_clear(); }
void port_list_add(const wchar_t* text) { memory_list_add(text); }
void port_list_select_prefix(const wchar_t* text) { memory_list_select_prefix(text); }
void port_list_select_first() { memory_list_select_first(); }
void port_list_select_none() { memory_list_select_none(); }
bool port_list_selected_text(wchar_t* buffer, unsigned capacity) { return memory_list_selected_text(buffer, capacity); }

void show_buttons(bool) {}
void hide_start_button() {}
void hide_progress_bars() {}
