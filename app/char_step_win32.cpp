#include "char_step.h"

#include <windows.h>

// The system's character step, as every other command-line reader on Windows uses.
const wchar_t* char_next(const wchar_t* position)
{
    return CharNextW(position);
}
