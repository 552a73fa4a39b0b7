// COM numbers as Linux device files, fixed so that a remembered port names the same device
// tomorrow: COM1-32 ttyS0-31, COM33-64 ttyUSB0-31, COM65-96 ttyACM0-31; no others.
#pragma once
#include <cstddef>

// The directory the device files live in: $TQ734_DEVICE_DIR when set and not empty, else /dev.
const char* com_device_dir();
// The device file's name without its directory ("ttyUSB0"), or null for a number without one.
const char* com_device_name(unsigned port, char* name, size_t capacity);
// The full path of COM<port>'s device file; false for a number without one.
bool com_device_path(unsigned port, char* path, size_t capacity);
// True for a serial node the kernel made without a UART behind it (a placeholder ttyS).
bool is_placeholder_uart(int fd);
