// Steps from one character of a wide string to the next: the system's own rule on
// Windows, one unit elsewhere. Never steps past the terminating zero.
#pragma once

const wchar_t* char_next(const wchar_t* position);
