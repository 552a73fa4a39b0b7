// The remembered settings: the COM port of the last successful update, and apart from it the
// set of ports the station served last.
#pragma once
#include <cstdint>

// 0 when nothing usable is stored.
uint16_t load_port();
// Failures are ignored: the update's outcome does not depend on them.
void remember_port(uint16_t port);

constexpr unsigned STATION_PORTS_CAPACITY = 256;
// The station's port set as words ("COM21 COM22"); false when nothing is stored.
bool load_station_ports(char* text, unsigned capacity);
// Failures are ignored: the station then asks again next time.
void remember_station_ports(const char* text);
