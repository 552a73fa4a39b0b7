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

// One UTF-8 sequence at p as a code point, advancing p; a byte that does not start a whole,
// shortest sequence becomes U+FFFD on its own.
uint32_t next_code_point(const unsigned char*& p)
{
    unsigned char b = *p++;
    if (b < 0x80)
        return b;
    unsigned more = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : 0;
    if (more == 0)
        return 0xFFFD;
    uint32_t c = b & (0x3Fu >> more);
    for (unsigned i = 0; i < more; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0xFFFD;
        c = c << 6 | (p[i] & 0x3Fu);
    }
    static const uint32_t LOWEST[] = {0, 0x80, 0x800, 0x10000};
    if (c < LOWEST[more] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
        return 0xFFFD;
    p += more;
    return c;
}

// A word of argv as wide characters (a 16-bit wchar_t gets pairs above U+FFFF), cut to the
// capacity, which the caller tells from a length equal to it.
unsigned utf8_to_wide(const char* word, wchar_t* out, unsigned capacity)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(word);
    unsigned n = 0;
    while (*p && n < capacity) {
        uint32_t c = next_code_point(p);
        if (sizeof(wchar_t) == 2 && c >= 0x10000) {
            if (n + 2 > capacity)
                break;
            out[n++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out[n++] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[n++] = static_cast<wchar_t>(c);
        }
    }
    out[n] = 0;
    return n;
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

// Every token is tested as a whole, case-sensitively. Tokens are read longer than the dialog's
// 100 units, so that a records file's path (-r) is not cut; no option is that long.
void apply_options(const wchar_t* command_line, uint8_t* auto_mode, uint8_t* final_command_flag)
{
    static wchar_t token[LONG_TOKEN_CAPACITY + 1];
    const wchar_t* position = command_line;
    for (;;) {
        unsigned length = 0;
        const wchar_t* after = next_token(position, token, LONG_TOKEN_CAPACITY, &length);
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
        // The options are ASCII; a value (a path, a name) is UTF-8 and read as characters.
        static wchar_t wide[LONG_TOKEN_CAPACITY + 1];
        unsigned length = utf8_to_wide(w, wide, LONG_TOKEN_CAPACITY);
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
