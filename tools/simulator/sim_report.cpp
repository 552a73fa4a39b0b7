// Report lines go out as they happen (flushed), so a killed run still leaves its events.
#include "sim_report.h"

#include <cstdarg>
#include <cstdio>

static FILE* report_file = nullptr;
static bool report_echo = false;

bool report_open(const char* path, bool echo_to_stderr)
{
    report_echo = echo_to_stderr;
    if (!path || !*path)
        return true;
    report_file = fopen(path, "w");
    return report_file != nullptr;
}

// Writes one formatted line to the file and, if asked, to stderr.
static void write_line(bool to_stderr, const char* prefix, const char* format, va_list args)
{
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    if (report_file) {
        fprintf(report_file, "%s%s\n", prefix, text);
        fflush(report_file);
    }
    if (to_stderr)
        fprintf(stderr, "%s%s\n", prefix, text);
}

void report_event(int64_t time_us, const char* format, ...)
{
    char prefix[32];
    snprintf(prefix, sizeof prefix, "t=%.1f ", double(time_us) / 1000.0);
    va_list args;
    va_start(args, format);
    write_line(report_echo, prefix, format, args);
    va_end(args);
}

void report_summary(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write_line(true, "", format, args);
    va_end(args);
}

void report_close()
{
    if (report_file)
        fclose(report_file);
    report_file = nullptr;
}
