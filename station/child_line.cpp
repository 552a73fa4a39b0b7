#include "child_line.h"

#include <cstring>

namespace {

// Copies one word (up to a space) into out, cut to capacity; returns the position after it.
unsigned take_word(const char* text, unsigned length, unsigned at, char* out, unsigned capacity)
{
    unsigned n = 0;
    for (; at < length && text[at] != ' '; ++at)
        if (n + 1 < capacity)
            out[n++] = text[at];
    out[n] = 0;
    return at;
}

unsigned skip_spaces(const char* text, unsigned length, unsigned at)
{
    while (at < length && text[at] == ' ')
        ++at;
    return at;
}

// A quoted text from after its opening quote: escapes undone, up to the closing quote.
unsigned take_quoted(const char* text, unsigned length, unsigned at, char* out, unsigned capacity)
{
    unsigned n = 0;
    for (; at < length && text[at] != '"'; ++at) {
        char c = text[at];
        if (c == '\\' && at + 1 < length) {
            char e = text[++at];
            c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
        }
        if (n + 1 < capacity)
            out[n++] = c;
    }
    out[n] = 0;
    return at < length ? at + 1 : at;
}

}  // namespace

bool parse_child_line(const char* text, unsigned length, ChildLine* out)
{
    char time[40];
    out->field_count = 0;
    unsigned at = take_word(text, length, 0, time, sizeof time);
    at = take_word(text, length, skip_spaces(text, length, at), out->port, sizeof out->port);
    at = take_word(text, length, skip_spaces(text, length, at), out->event, sizeof out->event);
    if (!time[0] || !out->port[0] || !out->event[0])
        return false;
    for (;;) {
        at = skip_spaces(text, length, at);
        if (at >= length)
            return true;
        unsigned key_start = at;
        while (at < length && text[at] != '=' && text[at] != ' ')
            ++at;
        bool slot = out->field_count < CHILD_FIELD_CAPACITY;
        ChildField scratch;
        ChildField& f = slot ? out->fields[out->field_count] : scratch;
        unsigned key_length = at - key_start;
        if (key_length >= sizeof f.key)
            key_length = sizeof f.key - 1;
        std::memcpy(f.key, text + key_start, key_length);
        f.key[key_length] = 0;
        f.value[0] = 0;
        if (at < length && text[at] == '=') {
            ++at;
            if (at < length && text[at] == '"')
                at = take_quoted(text, length, at + 1, f.value, sizeof f.value);
            else
                at = take_word(text, length, at, f.value, sizeof f.value);
        }
        if (slot && f.key[0])
            ++out->field_count;
    }
}

const char* child_field(const ChildLine& line, const char* key)
{
    for (unsigned i = 0; i < line.field_count; ++i)
        if (std::strcmp(line.fields[i].key, key) == 0)
            return line.fields[i].value;
    return nullptr;
}

bool child_field_number(const ChildLine& line, const char* key, uint32_t* value)
{
    const char* text = child_field(line, key);
    if (!text || !*text)
        return false;
    uint32_t v = 0;
    for (unsigned digits = 0; *text; ++text, ++digits) {
        if (*text < '0' || *text > '9' || digits >= 9)
            return false;
        v = v * 10 + uint32_t(*text - '0');
    }
    *value = v;
    return true;
}

void line_reader_reset(LineReader& reader)
{
    reader.length = 0;
    reader.overflow = false;
}

void line_reader_feed(LineReader& reader, const char* bytes, unsigned count, LineSink sink, void* context)
{
    for (unsigned i = 0; i < count; ++i) {
        char c = bytes[i];
        if (c == '\n') {
            unsigned n = reader.length;
            if (n > 0 && reader.text[n - 1] == '\r')
                --n;
            if (!reader.overflow)
                sink(context, reader.text, n);
            line_reader_reset(reader);
        } else if (reader.length + 1 < sizeof reader.text) {
            reader.text[reader.length++] = c;
        } else {
            reader.overflow = true;
        }
    }
}
