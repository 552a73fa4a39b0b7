// One line of an updater's log as the station reads it:
//   TIME PORT EVENT key=value key="text with \\ \" \r \n \t escaped"
// and the splitting of a child's output into such lines.
#pragma once
#include <cstdint>

constexpr unsigned CHILD_FIELD_CAPACITY = 12;
constexpr unsigned CHILD_KEY_CAPACITY = 24;
constexpr unsigned CHILD_VALUE_CAPACITY = 320;
constexpr unsigned CHILD_LINE_CAPACITY = 2048;

struct ChildField {
    char key[CHILD_KEY_CAPACITY];
    char value[CHILD_VALUE_CAPACITY];   // unescaped; cut when longer
};

struct ChildLine {
    char port[16];
    char event[CHILD_KEY_CAPACITY];
    unsigned field_count;
    ChildField fields[CHILD_FIELD_CAPACITY];   // further fields are dropped
};

// False for a line that is not a log line (fewer than three words, an empty event).
bool parse_child_line(const char* text, unsigned length, ChildLine* out);
// The field's value, or null when the line has no such key.
const char* child_field(const ChildLine& line, const char* key);
// A decimal field; false when absent or not a number.
bool child_field_number(const ChildLine& line, const char* key, uint32_t* value);

// Collects a child's output into lines; a line longer than the buffer is dropped whole.
struct LineReader {
    char text[CHILD_LINE_CAPACITY];
    unsigned length;
    bool overflow;
};
using LineSink = void (*)(void* context, const char* line, unsigned length);
void line_reader_reset(LineReader& reader);
// Calls sink for every complete line ('\n' ended, '\r' before it removed).
void line_reader_feed(LineReader& reader, const char* bytes, unsigned count, LineSink sink, void* context);
