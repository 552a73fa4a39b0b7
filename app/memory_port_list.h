// The port list kept in memory, for the hosts that have no window to hold it: the same
// items, order and case-insensitive prefix search as the window's list control.
#pragma once

void memory_list_clear();
void memory_list_add(const wchar_t* text);
void memory_list_select_prefix(const wchar_t* text);
void memory_list_select_first();
void memory_list_select_none();
bool memory_list_selected_text(wchar_t* buffer, unsigned capacity);
