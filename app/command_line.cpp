#include "command_line.h"

#include "char_step.h"
#include "script_options.h"

namespace {

// Codes 1 to 32 separate tokens.
bool is_separator(wchar_t c)
{
    auto code = static_cast<uint32_t>(c);
    return code >= 1 && code <= 32;
}

// Characters above 32 continue a token outside quotes.
bool is_token_char(wchar_t c)
{
    return static_cast<uint32_t>(c) > 32;
}

// Skips separators and empty quote pairs that stand before a token.
const wchar_t* skip_to_token(const wchar_t* p)
{
    for (;;) {
        if (is_separator(*p))
            p = char_next(p);
        else if (p[0] == L'"' && p[1] == L'"')
            p = char_next(char_next(p));
        else
            return p;
    }
}

}  // namespace

// One pass measures and copies: the first capacity units are stored, the rest is skipped.
const wchar_t* next_token(const wchar_t* position, wchar_t* buffer, unsigned capacity, unsigned* length)
{
    const wchar_t* p = skip_to_token(position);
    unsigned count = 0;
    bool quoted = false;
    while (*p && (quoted || is_token_char(*p))) {
        const wchar_t* next = char_next(p);
        if (*p == L'"') {
            quoted = !quoted;
        } else {
            for (const wchar_t* u = p; u < next; ++u) {
                if (count < capacity)
                    buffer[count] = *u;
                ++count;
            }
        }
        if (next == p)
            break;
        p = next;
    }
    if (count > capacity)
        count = capacity;
    buffer[count] = 0;
    *length = count;
    return p;
}

// Every token is tested as a whole, case-sensitively.
void apply_options(const wchar_t* command_line, uint8_t* auto_mode, uint8_t* final_command_flag)
{
    wchar_t token[TOKEN_CAPACITY + 1];
    const wchar_t* position = command_line;
    for (;;) {
        unsigned length = 0;
        const wchar_t* after = next_token(position, token, TOKEN_CAPACITY, &length);
        if (length == 0 || after == position) {
            script_options_end();
            return;
        }
        position = after;
        script_option_token(token, length);
        if (length == 2 && token[0] == L'-') {
            if (token[1] == L'a')
                *auto_mode = 1;
            else if (token[1] == L'd')
                *final_command_flag = 0;
        }
    }
}

// Exactly "-a" or "-d"; anything else is ignored.
void apply_option_words(int count, const char* const* words, uint8_t* auto_mode, uint8_t* final_command_flag)
{
    for (int i = 0; i < count; ++i) {
        const char* w = words[i];
        if (w == nullptr)
            continue;
        // Byte by byte: the options and their values are ASCII, anything else matches nothing.
        wchar_t wide[TOKEN_CAPACITY + 1];
        unsigned length = 0;
        for (const char* c = w; *c && length < TOKEN_CAPACITY; ++c)
            wide[length++] = static_cast<wchar_t>(static_cast<unsigned char>(*c));
        wide[length] = 0;
        script_option_token(wide, length);
        if (w[0] != '-' || w[1] == 0 || w[2] != 0)
            continue;
        if (w[1] == 'a')
            *auto_mode = 1;
        else if (w[1] == 'd')
            *final_command_flag = 0;
    }
    script_options_end();
}
