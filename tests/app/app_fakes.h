// Link-time stand-ins for what the app's portable code calls: the dialog's controls,
// the port probe, the settings store, the serial channel and the engine.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "port_selection.h"

struct FakeWorld {
    ProbeResult probes[257];
    uint16_t remembered;
    bool open_succeeds;
    // Port list control.
    std::vector<std::wstring> items;
    int selected;   // -1: nothing selected
    // Buttons and bars.
    bool buttons_visible;
    bool start_visible;
    bool bars_visible;
    // Channel calls, in order: "close", "open N".
    std::vector<std::string> channel_calls;
    uint32_t last_baud;
    uint16_t last_receive_size, last_transmit_size;
    uint8_t last_stop_bits;
    bool handler_is_engine;
    unsigned refused_opens;      // this many opens fail before they succeed again
    size_t items_at_last_open;   // the list's length when the channel was last opened
    unsigned paused_ms;   // pauses between attempts to open a named port
    // Texts written to the two line controls, in order.
    std::vector<std::wstring> status_writes, info_writes;
};
extern FakeWorld world;

// Everything absent, nothing remembered, opens succeed, all lines and tags cleared.
void reset_world();
std::wstring status_text();
std::wstring info_text();
