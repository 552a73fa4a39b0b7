// Reading the program's command line: tokens and the two options.
#pragma once
#include <cstdint>

constexpr unsigned TOKEN_CAPACITY = 100;

// Reads the token at position into buffer (capacity units plus a terminator) and returns
// the position after it. Longer tokens are cut to capacity units; quotes are removed.
const wchar_t* next_token(const wchar_t* position, wchar_t* buffer, unsigned capacity, unsigned* length);

// Sets auto mode for "-a" and clears the final command flag for "-d"; other tokens,
// the program path included, are ignored. -p and -t go to script_options.
void apply_options(const wchar_t* command_line, uint8_t* auto_mode, uint8_t* final_command_flag);

// The same options from arguments the system has already split (argv on Linux): each word
// is tested whole and case-sensitively, the program's own name included.
void apply_option_words(int count, const char* const* words, uint8_t* auto_mode, uint8_t* final_command_flag);
