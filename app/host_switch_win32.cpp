// Each view operation goes to the host in use: the dialog, or the host without a window.
#include "host_win32.h"
#include "port_selection.h"

bool host_windowless;

void write_line_control(TextLine line, const wchar_t* text)
{
    host_windowless ? windowless_write_line_control(line, text) : dialog_write_line_control(line, text);
}

void set_block_progress(int position)
{
    host_windowless ? windowless_set_block_progress(position) : dialog_set_block_progress(position);
}

void set_activity(int position)
{
    host_windowless ? windowless_set_activity(position) : dialog_set_activity(position);
}

void enter_transfer_view()
{
    host_windowless ? windowless_enter_transfer_view() : dialog_enter_transfer_view();
}

void show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind)
{
    host_windowless ? windowless_show_message(text, caption, kind) : dialog_show_message(text, caption, kind);
}

void start_reply_timer(unsigned milliseconds)
{
    host_windowless ? windowless_start_reply_timer(milliseconds) : dialog_start_reply_timer(milliseconds);
}

void stop_reply_timer()
{
    host_windowless ? windowless_stop_reply_timer() : dialog_stop_reply_timer();
}

void end_dialog()
{
    host_windowless ? windowless_end_dialog() : dialog_end_dialog();
}

void port_list_clear()
{
    host_windowless ? windowless_port_list_clear() : dialog_port_list_clear();
}

void port_list_add(const wchar_t* text)
{
    host_windowless ? windowless_port_list_add(text) : dialog_port_list_add(text);
}

void port_list_select_prefix(const wchar_t* text)
{
    host_windowless ? windowless_port_list_select_prefix(text) : dialog_port_list_select_prefix(text);
}

void port_list_select_first()
{
    host_windowless ? windowless_port_list_select_first() : dialog_port_list_select_first();
}

void port_list_select_none()
{
    host_windowless ? windowless_port_list_select_none() : dialog_port_list_select_none();
}

bool port_list_selected_text(wchar_t* buffer, unsigned capacity)
{
    return host_windowless ? windowless_port_list_selected_text(buffer, capacity) : dialog_port_list_selected_text(buffer, capacity);
}

void show_buttons(bool visible)
{
    host_windowless ? windowless_show_buttons(visible) : dialog_show_buttons(visible);
}

void hide_start_button()
{
    host_windowless ? windowless_hide_start_button() : dialog_hide_start_button();
}

void hide_progress_bars()
{
    host_windowless ? windowless_hide_progress_bars() : dialog_hide_progress_bars();
}
