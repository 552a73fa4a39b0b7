#include "script_options.h"

#include <initializer_list>

#include "command_line.h"

ScriptOptions script_options;

namespace {

enum class Waiting : uint8_t { Nothing, Port, Limit, Record, Operator };
Waiting waiting;

// Exactly the two-character option "-x".
bool is_option(const wchar_t* token, unsigned length, wchar_t letter)
{
    return length == 2 && token[0] == L'-' && token[1] == letter;
}

bool is_any_option(const wchar_t* token, unsigned length)
{
    if (length != 2 || token[0] != L'-')
        return false;
    for (wchar_t letter : {L'a', L'd', L'p', L't', L'n', L'w', L'f', L'g', L'r', L'o'})
        if (token[1] == letter)
            return true;
    return false;
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
    } else if (waiting == Waiting::Record) {
        // A path that may have been cut would put the records somewhere else: not used.
        unsigned n = wide_to_utf8(token, length, o.record_path, RECORD_PATH_CAPACITY);
        o.record_valid = length > 0 && length < LONG_TOKEN_CAPACITY && n + 1 < RECORD_PATH_CAPACITY;
        if (!o.record_valid)
            o.record_path[0] = 0;
    } else if (waiting == Waiting::Operator) {
        wide_to_utf8(token, length, o.operator_name, OPERATOR_CAPACITY);
    }
    waiting = Waiting::Nothing;
}

// One code point as UTF-8 at out[n], if it fits whole; the bytes it took (0 when not).
unsigned put_code_point(uint32_t c, char* out, unsigned n, unsigned capacity)
{
    unsigned size = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (n + size + 1 > capacity)
        return 0;
    unsigned char* p = reinterpret_cast<unsigned char*>(out + n);
    if (size == 1) {
        p[0] = static_cast<unsigned char>(c);
    } else if (size == 2) {
        p[0] = static_cast<unsigned char>(0xC0 | c >> 6);
        p[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (size == 3) {
        p[0] = static_cast<unsigned char>(0xE0 | c >> 12);
        p[1] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
        p[0] = static_cast<unsigned char>(0xF0 | c >> 18);
        p[1] = static_cast<unsigned char>(0x80 | (c >> 12 & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
        p[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
    return size;
}

}  // namespace

bool is_plain_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '/';
}

unsigned wide_to_utf8(const wchar_t* text, unsigned length, char* out, unsigned capacity)
{
    if (capacity == 0)
        return 0;
    unsigned n = 0;
    for (unsigned i = 0; i < length; ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && static_cast<uint32_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<uint32_t>(text[i + 1]) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) {
            c = 0xFFFD;
        }
        unsigned size = put_code_point(c, out, n, capacity);
        if (size == 0)
            break;
        n += size;
    }
    out[n] = 0;
    return n;
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
    } else if (is_option(token, length, L'r')) {
        script_options.record_given = 1;
        script_options.record_valid = 0;
        script_options.record_path[0] = 0;
        waiting = Waiting::Record;
    } else if (is_option(token, length, L'o')) {
        script_options.operator_name[0] = 0;
        waiting = Waiting::Operator;
    } else if (is_option(token, length, L'n')) {
        script_options.no_window = 1;
    } else if (is_option(token, length, L'w')) {
        script_options.wait_device = 1;
    } else if (is_option(token, length, L'f')) {
        script_options.force = 1;
    } else if (is_option(token, length, L'g')) {
        script_options.until_gone = 1;
    }
}

void script_options_end()
{
    if (waiting != Waiting::Nothing)
        take_value(L"", 0);
}
