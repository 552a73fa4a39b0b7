// The log for scripts: one UTF-8 line per event on standard output, written at once, each
// beginning with the local time (ISO 8601 with its offset) and the port, so that the logs
// of programs run side by side can be merged. The events are described in docs/scripts.md.
#pragma once
#include <cstdint>

constexpr unsigned LOG_LINE_CAPACITY = 1024;

// A line being put together; too long a line is cut, never overrun.
struct LogLine {
    char text[LOG_LINE_CAPACITY];
    unsigned length;
};

// Opens the log once; afterwards lines go out when there is an output.
void run_log_open();
// Starts a line with the time and the port, then the event's name.
void log_begin(LogLine& line, const char* event);
void log_text(LogLine& line, const char* text);
void log_number(LogLine& line, uint32_t value);
// A key=value field with a decimal number.
void log_field(LogLine& line, const char* key, uint32_t value);
void log_field(LogLine& line, const char* key, const char* value);
// A key="text" field: UTF-8, with \\, \", \r, \n and \t escaped, so a line stays one line.
void log_quoted(LogLine& line, const char* key, const wchar_t* text);
// Ends the line and writes it.
void log_end(LogLine& line);
