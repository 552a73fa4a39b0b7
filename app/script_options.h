// The options for scripts: -p PORT (the port for this run) and -t SECONDS (how long the
// device may stay silent in auto mode). Read from the same tokens as -a and -d.
#pragma once
#include <cstdint>

constexpr unsigned OPTION_TEXT_CAPACITY = 24;
constexpr uint32_t SILENCE_LIMIT_MAX_S = 86400;

struct ScriptOptions {
    uint8_t port_given;        // -p appeared
    uint16_t named_port;       // its port number; 0 when the value names no port
    uint8_t limit_given;       // -t appeared
    uint32_t limit_seconds;    // 1..86400; 0 when the value is malformed or missing
    char port_text[OPTION_TEXT_CAPACITY];    // the values as given, as plain words for the log (cut)
    char limit_text[OPTION_TEXT_CAPACITY];
};
extern ScriptOptions script_options;

// One command-line token, in order (the program's name included). A token that follows
// -p or -t is its value, unless it is one of the four options itself: then the option
// before it has no value and the token counts as an option.
void script_option_token(const wchar_t* token, unsigned length);
// The command line has ended: an option still waiting for its value has none.
void script_options_end();

// A character a plain word of the log may hold: a letter, a digit, '-', '_', '.' or '/'.
bool is_plain_char(char c);
// "COMn" in any case with n 1..255, or a device name the platform knows (Linux: "ttyUSB0",
// "/dev/ttyUSB0"); 0 for anything else.
uint16_t port_of_option(const char* text);
// A device file's name of the fixed COM table ("ttyUSB0" gives 33); 0 when there is none.
uint16_t port_of_device_name(const char* name);
