// The updater's command line for each step of a port's cycle.
#pragma once
#include <cstdint>

#include "port_cycle.h"

constexpr unsigned CHILD_WORD_CAPACITY = 20;

struct ChildArguments {
    const char* words[CHILD_WORD_CAPACITY + 1];   // null-terminated, the updater's path first
    unsigned count;
    char port_word[12];
    char limit_word[12];
};

// Arrival: -a -n -w -p COMn -r FILE [-d] [-t N] [-f] [-o NAME]; removal: -n -g -p COMn.
// The options come from station_options; the strings must outlive the arguments.
void child_arguments(ChildKind kind, uint16_t port, const char* updater, const char* records_path,
                     ChildArguments& out);
// One command line for CreateProcess as the updater reads its own: a word with a space or a
// tab, or an empty one, in double quotes (the options never hold a quote). False when too long.
bool windows_command_line(const ChildArguments& arguments, char* out, unsigned capacity);
