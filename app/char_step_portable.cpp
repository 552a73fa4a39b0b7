#include "char_step.h"

// One wide-character unit; the terminating zero is never passed.
const wchar_t* char_next(const wchar_t* position)
{
    return *position ? position + 1 : position;
}
