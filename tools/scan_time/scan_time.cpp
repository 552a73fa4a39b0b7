// Measuring tool, not a test: how long the port list's scan (the probe of COM1 to COM256 that
// runs at start-up and each time the list is opened) takes on this machine.
//   scan_time [SCANS]      prints the ports found, the first scan, the median and the slowest
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "port_selection.h"

int main(int argc, char** argv)
{
    int scans = argc > 1 ? std::atoi(argv[1]) : 50;
    if (scans < 1)
        scans = 1;
    std::vector<double> ms;
    unsigned listed = 0;
    for (int s = 0; s < scans; ++s) {
        auto start = std::chrono::steady_clock::now();
        listed = 0;
        for (unsigned n = 1; n <= 256; ++n)
            if (probe_port(n) != ProbeResult::Absent)
                ++listed;
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    double first = ms.front();
    std::sort(ms.begin(), ms.end());
    std::printf("%u ports listed; scan of COM1-COM256: first %.2f ms, then over %d scans median %.2f ms, "
                "slowest %.2f ms\n",
                listed, first, scans, ms[ms.size() / 2], ms.back());
    return 0;
}
