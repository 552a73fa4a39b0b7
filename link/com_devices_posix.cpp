#include "com_devices.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct ComRange {
    unsigned first;
    const char* stem;
};

// Thirty-two numbers per kind of serial device, in this order.
const ComRange COM_RANGES[] = {{1, "ttyS"}, {33, "ttyUSB"}, {65, "ttyACM"}};
constexpr unsigned PER_RANGE = 32;

}  // namespace

const char* com_device_dir()
{
    const char* dir = std::getenv("TQ734_DEVICE_DIR");
    return dir && *dir ? dir : "/dev";
}

const char* com_device_name(unsigned port, char* name, size_t capacity)
{
    for (const ComRange& range : COM_RANGES) {
        if (port < range.first || port >= range.first + PER_RANGE)
            continue;
        int n = std::snprintf(name, capacity, "%s%u", range.stem, port - range.first);
        return n > 0 && static_cast<size_t>(n) < capacity ? name : nullptr;
    }
    return nullptr;
}

bool com_device_path(unsigned port, char* path, size_t capacity)
{
    char name[16];
    if (!com_device_name(port, name, sizeof name))
        return false;
    int n = std::snprintf(path, capacity, "%s/%s", com_device_dir(), name);
    return n > 0 && static_cast<size_t>(n) < capacity;
}

// The serial driver reports an unknown port type for a ttyS without hardware; devices
// that do not answer the request at all (ptys, some adapters) are real enough.
bool is_placeholder_uart(int fd)
{
    serial_struct info = {};
    return ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
}
