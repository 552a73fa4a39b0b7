// The station's command line: the ports to serve and what every port's update is run with.
// Words come in UTF-8, already split (argv on Linux; the updater's own tokens on Windows).
#pragma once
#include <cstdint>

constexpr unsigned STATION_MAX_PORTS = 16;
constexpr unsigned STATION_OPERATOR_CAPACITY = 64;
constexpr unsigned STATION_PATH_CAPACITY = 1024;
constexpr unsigned STATION_ERROR_CAPACITY = 256;

enum class StationVerdict : uint8_t { Run, Help, Version, Error };

struct StationOptions {
    uint16_t ports[STATION_MAX_PORTS];   // in the order given, each once
    unsigned port_count;
    uint8_t no_final_command;            // -d
    uint8_t force;                       // -f
    uint32_t limit_seconds;              // -t; 0 when not given
    char operator_name[STATION_OPERATOR_CAPACITY];   // -o; empty when not given
    char records_path[STATION_PATH_CAPACITY];        // -r; empty: the per-user place
    char error[STATION_ERROR_CAPACITY];  // what is wrong, for the engineer (with StationVerdict::Error)
};
extern StationOptions station_options;

// Reads the words after the program's name. On Error, station_options.error says why.
StationVerdict read_station_options(int count, const char* const* words);

// Adds a port unless it is there already or the set is full; false when not added.
bool station_add_port(StationOptions& options, uint16_t port);

// The set as words ("COM21 COM22"), for the remembered set; false when it does not fit.
bool format_port_set(const StationOptions& options, char* out, unsigned capacity);
// A remembered set read back: every COMn word that names a port, duplicates dropped.
void parse_port_set(const char* text, StationOptions& options);

// The option words' summary for --help (UTF-8, several lines).
extern const char STATION_HELP_TEXT[];
