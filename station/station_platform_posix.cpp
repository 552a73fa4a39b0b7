// The station's platform pieces on Linux: port names of the fixed table, the updater's path.
#include "station_platform.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "com_devices.h"

void port_display_name(uint16_t port, char* out, unsigned capacity)
{
    char device[32];
    if (com_device_name(port, device, sizeof device))
        std::snprintf(out, capacity, "COM%u · %s", unsigned(port), device);
    else
        std::snprintf(out, capacity, "COM%u", unsigned(port));
}

bool find_updater(char* out, unsigned capacity)
{
    const char* given = std::getenv("TQ734_UPDATER");
    if (given && *given) {
        std::snprintf(out, capacity, "%s", given);
        return true;
    }
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return false;
    self[n] = 0;
    char* slash = std::strrchr(self, '/');
    if (!slash)
        return false;
    *slash = 0;
    int m = std::snprintf(out, capacity, "%s/tq734-updater", self);
    return m > 0 && unsigned(m) < capacity && access(out, X_OK) == 0;
}
