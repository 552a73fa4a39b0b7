// The run's report: time-stamped event lines, then a summary.
#pragma once
#include <cstdint>

// Opens the report file (empty path: no file). False when it cannot be created.
bool report_open(const char* path, bool echo_to_stderr);
// One event line: "t=<ms since start, one decimal> <text>".
void report_event(int64_t time_us, const char* format, ...) __attribute__((format(printf, 2, 3)));
// One summary line without a time stamp; also printed on stderr.
void report_summary(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Flushes and closes the file.
void report_close();
