#include "script_options.h"

#include "command_line.h"

ScriptOptions script_options;

namespace {

enum class Waiting : uint8_t { Nothing, Port, Limit };
Waiting waiting;

// Exactly the two-character option "-x".
bool is_option(const wchar_t* token, unsigned length, wchar_t letter)
{
    return length == 2 && token[0] == L'-' && token[1] == letter;
}

bool is_any_option(const wchar_t* token, unsigned length)
{
    return is_option(token, length, L'a') || is_option(token, length, L'd') || is_option(token, length, L'p') ||
           is_option(token, length, L't');
}

// The token as a plain word of the log, cut to the capacity: letters, digits, '-', '_', '.'
// and '/' are kept, anything else becomes '?', so it matches nothing and cannot split a line.
void copy_plain(const wchar_t* token, unsigned length, char* out)
{
    unsigned n = 0;
    for (; n < length && n + 1 < OPTION_TEXT_CAPACITY; ++n) {
        auto c = static_cast<uint32_t>(token[n]);
        out[n] = c < 128 && is_plain_char(static_cast<char>(c)) ? static_cast<char>(c) : '?';
    }
    out[n] = 0;
}

// Decimal digits only; leading zeros do not count, and at most 9 digits follow them, so
// that the value cannot overflow.
template <typename Char>
bool parse_decimal(const Char* text, unsigned length, uint32_t* value)
{
    if (length == 0)
        return false;
    unsigned n = 0;
    while (n < length && text[n] == '0')
        ++n;
    if (length - n > 9)
        return false;
    uint32_t v = 0;
    for (; n < length; ++n) {
        if (text[n] < '0' || text[n] > '9')
            return false;
        v = v * 10 + uint32_t(text[n] - '0');
    }
    *value = v;
    return true;
}

unsigned text_length(const char* text)
{
    unsigned n = 0;
    while (text[n])
        ++n;
    return n;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The value has arrived (or is missing: an empty token) for the option waiting for it.
void take_value(const wchar_t* token, unsigned length)
{
    ScriptOptions& o = script_options;
    if (waiting == Waiting::Port) {
        copy_plain(token, length, o.port_text);
        o.named_port = port_of_option(o.port_text);
        // A value cut to the capacity names no port, even if its start would.
        if (length + 1 > OPTION_TEXT_CAPACITY)
            o.named_port = 0;
    } else if (waiting == Waiting::Limit) {
        copy_plain(token, length, o.limit_text);
        // Read from the whole token, not the logged copy, so that leading zeros beyond the
        // copy's length still count as zeros; a token at the reader's capacity may have been
        // cut, and names no limit.
        uint32_t seconds = 0;
        bool whole = length < TOKEN_CAPACITY;
        o.limit_seconds = whole && parse_decimal(token, length, &seconds) && seconds >= 1 &&
                                  seconds <= SILENCE_LIMIT_MAX_S
                              ? seconds
                              : 0;
    }
    waiting = Waiting::Nothing;
}

}  // namespace

bool is_plain_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '/';
}

uint16_t port_of_option(const char* text)
{
    if (lower(text[0]) == 'c' && lower(text[1]) == 'o' && lower(text[2]) == 'm') {
        uint32_t n = 0;
        if (parse_decimal(text + 3, text_length(text + 3), &n) && n >= 1 && n <= 255)
            return uint16_t(n);
        return 0;
    }
    return port_of_device_name(text);
}

void script_option_token(const wchar_t* token, unsigned length)
{
    if (waiting != Waiting::Nothing) {
        if (!is_any_option(token, length)) {
            take_value(token, length);
            return;
        }
        take_value(L"", 0);
    }
    if (is_option(token, length, L'p')) {
        script_options.port_given = 1;
        script_options.named_port = 0;
        script_options.port_text[0] = 0;
        waiting = Waiting::Port;
    } else if (is_option(token, length, L't')) {
        script_options.limit_given = 1;
        script_options.limit_seconds = 0;
        script_options.limit_text[0] = 0;
        waiting = Waiting::Limit;
    }
}

void script_options_end()
{
    if (waiting != Waiting::Nothing)
        take_value(L"", 0);
}
