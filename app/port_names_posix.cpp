#include "script_options.h"

#include <cstring>

#include "com_devices.h"

// "ttyUSB0" or "/dev/ttyUSB0": the COM number whose device file has that name. The device
// directory replaces /dev for these names as for every port.
uint16_t port_of_device_name(const char* name)
{
    const char DEV[] = "/dev/";
    if (std::strncmp(name, DEV, sizeof DEV - 1) == 0)
        name += sizeof DEV - 1;
    char candidate[32];
    for (unsigned n = 1; n <= 255; ++n)
        if (com_device_name(n, candidate, sizeof candidate) && std::strcmp(candidate, name) == 0)
            return uint16_t(n);
    return 0;
}
