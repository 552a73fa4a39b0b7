#include "script_options.h"

// Windows names its ports only as COMn.
uint16_t port_of_device_name(const char*)
{
    return 0;
}
