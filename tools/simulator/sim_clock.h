// Monotonic time since the simulator started, in microseconds.
#pragma once
#include <cstdint>
#include <ctime>

// Microseconds on the monotonic clock; the first call defines zero.
inline int64_t sim_now_us()
{
    static int64_t origin = -1;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    int64_t t = int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    if (origin < 0)
        origin = t;
    return t - origin;
}

// One byte of 8N1 at 115,200 baud: 10 bits.
constexpr double WIRE_BYTE_US = 10.0 * 1000000.0 / 115200.0;
