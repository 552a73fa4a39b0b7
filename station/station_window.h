// The station's window: a header (the firmware, the counters, the records file) and a tile
// per port. Platform files build it; the cycle tells it what changed (station_run.h).
#pragma once

// Builds and shows the window for the ports of port_slots; false when it cannot.
bool station_window_open();
// Runs until the window is closed (asking first while updates run) and every child has ended.
void station_window_run();
