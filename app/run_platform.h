// What a script's log and the command-line port need of the platform: a clock, the local
// time, a short pause, and standard output when the parent gave the program one.
#pragma once
#include <cstdint>

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
    int offset_minutes;   // east of UTC
};

// Milliseconds of a clock that never steps back; only differences mean anything.
uint32_t monotonic_ms();
LocalTime local_time_now();
// Blocks the thread; used only before the window is shown.
void pause_ms(unsigned milliseconds);
// True when there is somewhere to write the log (Linux: always; Windows: a file or a pipe).
bool log_output_open();
// One whole line; a log that cannot be written is dropped, never waited for.
void log_output_write(const char* bytes, unsigned length);
