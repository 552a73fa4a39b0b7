// Port list, initial choice, opening and reopening the channel. Owns the current port number.
#pragma once
#include <cstdint>

// Status texts after opening a port: usable, or busy or absent. Here in the header, so that
// the technician's guide is made from the same texts.
inline constexpr wchar_t STATUS_PRESS_START[] = L"Нажмите \"Старт\"";
inline constexpr wchar_t STATUS_PORT_UNUSABLE[] = L"Порт занят или отсутствует";

#include "serial_channel.h"

// The current port number; 0 means no usable port.
extern uint16_t port_number;
// Who receives the port's bytes: the engine, unless a watch for the device's removal takes them.
extern ReceiveHandler port_receiver;
// The port last chosen (remembered, named with -p, or picked in the list), kept when it could
// not be opened; 0 before the first choice.
extern uint16_t port_chosen;

enum class ProbeResult : uint8_t { Present, Absent, Busy };

// What port selection needs of the dialog; the main dialog implements it.
void port_list_clear();
void port_list_add(const wchar_t* text);
void port_list_select_prefix(const wchar_t* text);
void port_list_select_first();
// Leaves no item selected.
void port_list_select_none();
// Copies the selected item's text; false when nothing is selected.
bool port_list_selected_text(wchar_t* buffer, unsigned capacity);
void show_buttons(bool visible);
void hide_start_button();
void hide_progress_bars();

// Tries to open COM<n> (1..256) as the port list scan does.
ProbeResult probe_port(unsigned n);

void scan_ports();
// The technician opens the list: the same scan again, keeping the selected port selected (and
// listed, even when it has gone). Nothing is reopened.
void rescan_ports();
// The remembered port, or the port named with -p: that one is opened before the list is
// filled (in auto mode tried for about 1 s) and no other port is chosen in its place.
void select_initial_port();
void open_port();
void on_port_list_changed();
