// What the engine reports beside its view: the moments a script's log and its silence
// limit need. Nobody listens unless engine_event_sink is set.
#pragma once
#include <cstdint>

#include "messages.h"

enum class EngineEventKind : uint8_t {
    ExchangeBegun,     // a poll or an update began (state says which)
    DeviceHeard,       // a reply the engine acts on: reply says which
    Resent,            // the device was silent: the request went out again (block, or identify)
    FinalCommand,      // after the device's result: sent is 1 when the final command went out
};

struct EngineEvent {
    EngineEventKind kind;
    const Reply* reply;   // DeviceHeard
    uint32_t block;       // Resent while transferring, DeviceHeard for a block acknowledgement
    uint8_t sent;         // FinalCommand
};

extern void (*engine_event_sink)(const EngineEvent& event);
