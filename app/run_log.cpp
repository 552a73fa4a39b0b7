#include "run_log.h"

#include "device_record.h"
#include "port_selection.h"
#include "run_platform.h"
#include "script_options.h"

namespace {

bool output_ready;

void put(LogLine& line, char c)
{
    // One byte stays free for the line's end.
    if (line.length + 2 < LOG_LINE_CAPACITY)
        line.text[line.length++] = c;
}

// Zero-padded decimal of at least the given width.
void put_padded(LogLine& line, uint32_t v, unsigned width)
{
    char digits[12];
    unsigned count = 0;
    do {
        digits[count++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v && count < sizeof digits);
    while (count < width && count < sizeof digits)
        digits[count++] = '0';
    while (count)
        put(line, digits[--count]);
}

// One code point as UTF-8.
void put_utf8(LogLine& line, uint32_t c)
{
    if (c < 0x80) {
        put(line, static_cast<char>(c));
    } else if (c < 0x800) {
        put(line, static_cast<char>(0xC0 | c >> 6));
        put(line, static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        put(line, static_cast<char>(0xE0 | c >> 12));
        put(line, static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        put(line, static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        put(line, static_cast<char>(0xF0 | c >> 18));
        put(line, static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        put(line, static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        put(line, static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The port a line speaks of: the one in use; while none is, the one named on the command
// line, until the technician picks another.
void put_port(LogLine& line)
{
    unsigned n = port_number;
    if (n == 0 && script_options.port_given && (port_chosen == 0 || port_chosen == script_options.named_port))
        n = script_options.named_port;
    if (n == 0) {
        put(line, '-');
        return;
    }
    log_text(line, "COM");
    log_number(line, n);
}

}  // namespace

void run_log_open()
{
    output_ready = log_output_open();
}

void log_begin(LogLine& line, const char* event)
{
    line.length = 0;
    // The same time form as the records, so that a log line and a record can be matched.
    char time[40];
    unsigned n = format_record_time(local_time_now(), time, sizeof time);
    for (unsigned i = 0; i < n; ++i)
        put(line, time[i]);
    put(line, ' ');
    put_port(line);
    put(line, ' ');
    log_text(line, event);
}

void log_text(LogLine& line, const char* text)
{
    for (; *text; ++text)
        put(line, *text);
}

void log_number(LogLine& line, uint32_t value)
{
    put_padded(line, value, 1);
}

void log_field(LogLine& line, const char* key, uint32_t value)
{
    put(line, ' ');
    log_text(line, key);
    put(line, '=');
    log_number(line, value);
}

void log_field(LogLine& line, const char* key, const char* value)
{
    put(line, ' ');
    log_text(line, key);
    put(line, '=');
    log_text(line, value);
}

void log_quoted(LogLine& line, const char* key, const wchar_t* text)
{
    put(line, ' ');
    log_text(line, key);
    log_text(line, "=\"");
    for (const wchar_t* p = text ? text : L""; *p; ++p) {
        uint32_t c = static_cast<uint32_t>(*p);
        // A surrogate pair (16-bit wide characters) is one code point.
        if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(p[1]) - 0xDC00);
            ++p;
        }
        switch (c) {
        case '\\': log_text(line, "\\\\"); break;
        case '"': log_text(line, "\\\""); break;
        case '\r': log_text(line, "\\r"); break;
        case '\n': log_text(line, "\\n"); break;
        case '\t': log_text(line, "\\t"); break;
        default:
            if (c < 32 || c == 127)
                put(line, '?');
            else
                put_utf8(line, c);
        }
    }
    put(line, '"');
}

void log_end(LogLine& line)
{
    line.text[line.length++] = '\n';
    if (output_ready)
        log_output_write(line.text, line.length);
}
