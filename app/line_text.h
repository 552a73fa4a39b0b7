// The status and info lines of the main dialog and the tag that names what each shows.
#pragma once
#include <cstdint>

enum TextLine : uint8_t { StatusLine = 0, InfoLine = 1 };

// Tag of the text each line shows; 0 at start.
extern uint8_t line_tags[2];

// Rewrites the line only when the tag differs; a null text clears it.
void set_line_text(TextLine line, const wchar_t* text, uint8_t tag);

// Told of every text a line is given (the log for scripts); may be null.
extern void (*line_text_observer)(TextLine line, const wchar_t* text);

// Puts the text on the line's control; the main dialog implements it.
void write_line_control(TextLine line, const wchar_t* text);
