#include "child_arguments.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "station_options.h"

namespace {

void add(ChildArguments& out, const char* word)
{
    if (out.count < CHILD_WORD_CAPACITY)
        out.words[out.count++] = word;
    out.words[out.count] = nullptr;
}

}  // namespace

void child_arguments(ChildKind kind, uint16_t port, const char* updater, const char* records_path,
                     ChildArguments& out)
{
    const StationOptions& o = station_options;
    out.count = 0;
    std::snprintf(out.port_word, sizeof out.port_word, "COM%u", unsigned(port));
    std::snprintf(out.limit_word, sizeof out.limit_word, "%u", unsigned(o.limit_seconds));
    add(out, updater);
    if (kind == ChildKind::Removal) {
        for (const char* w : {"-n", "-g", "-p"})
            add(out, w);
        add(out, out.port_word);
        return;
    }
    for (const char* w : {"-a", "-n", "-w", "-p"})
        add(out, w);
    add(out, out.port_word);
    add(out, "-r");
    add(out, records_path);
    if (o.no_final_command)
        add(out, "-d");
    if (o.limit_seconds) {
        add(out, "-t");
        add(out, out.limit_word);
    }
    if (o.force)
        add(out, "-f");
    if (o.operator_name[0]) {
        add(out, "-o");
        add(out, o.operator_name);
    }
}

bool windows_command_line(const ChildArguments& arguments, char* out, unsigned capacity)
{
    unsigned used = 0;
    for (unsigned i = 0; i < arguments.count; ++i) {
        const char* w = arguments.words[i];
        bool quote = !*w || std::strpbrk(w, " \t") != nullptr;
        int n = std::snprintf(out + used, capacity - used, "%s%s%s%s", i ? " " : "", quote ? "\"" : "", w,
                              quote ? "\"" : "");
        if (n < 0 || used + unsigned(n) >= capacity)
            return false;
        used += unsigned(n);
    }
    return true;
}
