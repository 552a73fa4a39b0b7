// The one remembered setting: the COM port of the last successful update.
#pragma once
#include <cstdint>

// 0 when nothing usable is stored.
uint16_t load_port();
// Failures are ignored: the update's outcome does not depend on them.
void remember_port(uint16_t port);
