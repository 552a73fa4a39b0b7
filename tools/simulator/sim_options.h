// The simulator's command line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct SimOptions {
    std::string link_path;
    std::string ready_file;
    std::string report_path;
    std::string image_path;
    uint8_t tag[2];
    uint8_t version_major;
    uint16_t version_minor;
    bool version_fields;
    uint8_t result;
    long silent_from_block;       // -1: never silent
    long stop_reading_at_block;   // -1: always reads the line
    double drop_acks;
    double corrupt;
    double duplicate_acks;
    double noise;
    uint64_t seed;
    bool split;
    int split_gap_ms;
    int delay_ms;
    long finish_after_block;      // -1: only on a finish request
    std::vector<long> unplug_at_blocks;  // empty: the line never goes away
    int unplug_seconds;
    bool unsolicited;
    uint8_t unsolicited_tag[2];
    long unsolicited_after_block;
    bool wire_time;
    int arrive_after_ms;          // silent on the line until then (0: there from the start)
    int restart_silence_ms;       // after the final command: silent that long (-1: no restart)
    uint8_t new_version_major;    // the version it answers with after the restart
    uint16_t new_version_minor;
    bool remove_after_final;      // the pty and link go away at the final command
    int linger_ms;
    int timeout_s;
    bool exit_on_final;
    bool verbose;
    bool progress;
};

extern SimOptions sim_options;

enum ParseOutcome { PARSE_RUN, PARSE_HELP, PARSE_ERROR };

// Fills sim_options from argv; PARSE_ERROR has already printed why.
ParseOutcome parse_options(int argc, char** argv);
// Usage text on stdout.
void print_help();
