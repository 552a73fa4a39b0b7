// The two hosts of the Windows program behind the engine's and port selection's view
// operations: the main dialog, and with -n a host with no window at all. The operations
// themselves (engine_host.h, port_selection.h) pass each call to the one in use.
#pragma once
#include <cstdint>

#include "engine_host.h"
#include "line_text.h"

// Set before either host runs: -n chose the host without a window.
extern bool host_windowless;

// Runs the update without a window on this thread's message loop until the engine ends it.
void run_windowless_host();

// The main dialog.
void dialog_write_line_control(TextLine line, const wchar_t* text);
void dialog_set_block_progress(int position);
void dialog_set_activity(int position);
void dialog_enter_transfer_view();
void dialog_show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind);
void dialog_start_reply_timer(unsigned milliseconds);
void dialog_stop_reply_timer();
void dialog_end_dialog();
void dialog_port_list_clear();
void dialog_port_list_add(const wchar_t* text);
void dialog_port_list_select_prefix(const wchar_t* text);
void dialog_port_list_select_first();
void dialog_port_list_select_none();
bool dialog_port_list_selected_text(wchar_t* buffer, unsigned capacity);
void dialog_show_buttons(bool visible);
void dialog_hide_start_button();
void dialog_hide_progress_bars();

// Without a window.
void windowless_write_line_control(TextLine line, const wchar_t* text);
void windowless_set_block_progress(int position);
void windowless_set_activity(int position);
void windowless_enter_transfer_view();
void windowless_show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind);
void windowless_start_reply_timer(unsigned milliseconds);
void windowless_stop_reply_timer();
void windowless_end_dialog();
void windowless_port_list_clear();
void windowless_port_list_add(const wchar_t* text);
void windowless_port_list_select_prefix(const wchar_t* text);
void windowless_port_list_select_first();
void windowless_port_list_select_none();
bool windowless_port_list_selected_text(wchar_t* buffer, unsigned capacity);
void windowless_show_buttons(bool visible);
void windowless_hide_start_button();
void windowless_hide_progress_bars();
