// The options for scripts: -p PORT (the port for this run), -t SECONDS (how long the device
// may stay silent in auto mode), and for unattended stations -n (no window), -w (wait for a
// device), -f (update a device that is up to date), -g (wait until the device is gone),
// -r FILE (append a record) and -o NAME (put in the record). Read from the same tokens as -a
// and -d.
#pragma once
#include <cstdint>

constexpr unsigned OPTION_TEXT_CAPACITY = 24;
constexpr uint32_t SILENCE_LIMIT_MAX_S = 86400;
// A command-line word may be this long in wide units (a records file's path).
constexpr unsigned LONG_TOKEN_CAPACITY = 1024;
// UTF-8 of a word that long, and of an operator's name.
constexpr unsigned RECORD_PATH_CAPACITY = 3 * LONG_TOKEN_CAPACITY + 1;
constexpr unsigned OPERATOR_CAPACITY = 128;

struct ScriptOptions {
    uint8_t port_given;        // -p appeared
    uint16_t named_port;       // its port number; 0 when the value names no port
    uint8_t limit_given;       // -t appeared
    uint32_t limit_seconds;    // 1..86400; 0 when the value is malformed or missing
    char port_text[OPTION_TEXT_CAPACITY];    // the values as given, as plain words for the log (cut)
    char limit_text[OPTION_TEXT_CAPACITY];
    uint8_t no_window;         // -n
    uint8_t wait_device;       // -w
    uint8_t force;             // -f
    uint8_t until_gone;        // -g
    uint8_t record_given;      // -r appeared
    uint8_t record_valid;      // its value is a whole, non-empty path
    char record_path[RECORD_PATH_CAPACITY];    // UTF-8
    char operator_name[OPERATOR_CAPACITY];     // -o, UTF-8, cut to the capacity; empty when not given
};
extern ScriptOptions script_options;

// One command-line token, in order (the program's name included). A token that follows
// -p, -t, -r or -o is its value, unless it is one of the options itself: then the option
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

// A command-line word as UTF-8 (UTF-16 pairs joined, a lone surrogate replaced), cut at a
// character's end to fit; its length in bytes.
unsigned wide_to_utf8(const wchar_t* text, unsigned length, char* out, unsigned capacity);
