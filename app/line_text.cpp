#include "line_text.h"

#include "engine_host.h"

uint8_t line_tags[2];
void (*line_text_observer)(TextLine line, const wchar_t* text);

// Same tag, same text: the control is left alone, so it does not flicker on every reply.
void set_line_text(TextLine line, const wchar_t* text, uint8_t tag)
{
    if (line_tags[line] == tag)
        return;
    write_line_control(line, text ? text : L"");
    line_tags[line] = tag;
    if (line_text_observer)
        line_text_observer(line, text ? text : L"");
}

// The engine's status line.
void set_status(const wchar_t* text, uint8_t tag)
{
    set_line_text(StatusLine, text, tag);
}

// The engine's info line.
void set_info(const wchar_t* text, uint8_t tag)
{
    set_line_text(InfoLine, text, tag);
}
