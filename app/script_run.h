// A run as a script sees it: the log's events from start to exit, the port named with -p
// in auto mode, and the -t limit on the device's silence.
#pragma once
#include <cstdint>

#include "engine_host.h"

// Opens the log, writes the start line, and listens to the engine and the two lines.
void script_run_start(const char* program_version);
// With -a, a -t value that is no limit: true, and the reason is logged; the program then
// ends at once with 127 (a typo must not mean "wait forever").
bool script_run_refuses_options();
// After the start-up port choice: auto mode arms the automatic start, except that a port
// that could not be opened ends the run at the first tick, without a box, when it was named
// with -p or when there is no window in which to pick another (can_pick_port false).
void script_run_after_initial_port(bool can_pick_port);
// Every tick, before the engine's own: gives up once the device has been silent too long.
void script_run_tick();
// A message box, as a line of the log; without a window the line is all there is.
void script_run_message(const wchar_t* text, const wchar_t* caption, MessageKind kind);
// A short note of the program's own, e.g. why it could not start.
void script_run_note(const char* event, const char* reason);
// The last line: the exit code and the time taken.
void script_run_exit(uint8_t exit_code);
