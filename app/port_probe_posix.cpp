#include "port_selection.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "com_devices.h"

// Opens and closes the device at once. No node, no device behind it (ENODEV, ENXIO, a
// placeholder ttyS) or a node that is not a terminal: absent. Any other refusal (busy,
// not in the dialout group): listed, and opening it shows that it cannot be used.
ProbeResult probe_port(unsigned n)
{
    char path[4096];
    if (!com_device_path(n, path, sizeof path))
        return ProbeResult::Absent;
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENODEV || errno == ENXIO || errno == ENOTDIR ? ProbeResult::Absent
                                                                                       : ProbeResult::Busy;
    bool serial = isatty(fd) && !is_placeholder_uart(fd);
    close(fd);
    return serial ? ProbeResult::Present : ProbeResult::Absent;
}
