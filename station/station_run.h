// The station's ports and what joins their cycles to the children and the window: portable,
// driven by the platform's child watcher, its timers and the window.
#pragma once
#include <cstdint>

#include "child_arguments.h"
#include "port_cycle.h"
#include "station_options.h"

extern PortSlot port_slots[STATION_MAX_PORTS];
extern unsigned port_slot_count;
// The updater the children run and the records file they append to.
extern char updater_path[STATION_PATH_CAPACITY];
extern char records_path[STATION_PATH_CAPACITY];
extern const char* station_version;

// The ports to serve: as given (and remembered), else the remembered set, else chosen;
// false when the technician cancelled the choice.
bool settle_station_ports();
// Every port of station_options begins its cycle: the arrival children start.
void station_start_ports();
// A port's next child, now (the platform calls it again after a delay it was asked for).
void station_start_child(unsigned slot, ChildKind kind);
// What a child wrote on its standard output, in any pieces.
void station_child_output(unsigned slot, const char* bytes, unsigned count);
void station_child_ended(unsigned slot, ChildEnd how, uint32_t code);
// Once a second: the clocks of running updates.
void station_tick();
// The ports being updated now, as "COM21, COM22"; their number.
unsigned station_updating_ports(char* names, unsigned capacity);
// Closing: every child is stopped; its end still arrives through station_child_ended.
void station_stop_all();
// No child runs any more.
bool station_all_stopped();

// The platform: start a child with these words (false when the system refuses), start one
// later, stop one (terminate, then kill).
bool platform_child_start(unsigned slot, const ChildArguments& arguments);
void platform_child_start_later(unsigned slot, ChildKind kind, unsigned delay_ms);
void platform_child_stop(unsigned slot);
// The window: a tile or the header has something new to show.
void view_tile_changed(unsigned slot);
void view_header_changed();

// The station's own record (crashed, interrupted) of what the port's child had told.
void station_write_record(const PortSlot& slot, Outcome outcome);
