// What the station's entry needs of the platform beside the window.
#pragma once
#include <cstdint>

// The port as the tile and the chooser name it ("COM21"; on Linux "COM33 · ttyUSB0").
void port_display_name(uint16_t port, char* out, unsigned capacity);
// The updater beside the station's own executable, or $TQ734_UPDATER when set; false if none.
bool find_updater(char* out, unsigned capacity);
// Lets the technician tick the ports to serve among those the scan finds; false: cancelled.
bool choose_ports();
