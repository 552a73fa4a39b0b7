// Recording stand-ins for the dialog, the serial channel, the settings store and the
// port number, so the engine can be driven and watched without a window or a port.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine_host.h"

using Bytes = std::vector<uint8_t>;

enum class Ev {
    Status, Info, BlockProgress, Activity, TransferView, Message,
    StartTimer, StopTimer, EndDialog, Write, Close, RememberPort,
};

// One call the engine made, in the order it made them.
struct Event {
    Ev kind;
    std::wstring text;      // Status, Info, Message
    bool has_text;          // Status, Info, Message (false: null text)
    int value;              // tag, position, period, port
    std::wstring caption;   // Message
    bool has_caption;       // Message
    MessageKind message_kind;
    int state;              // engine state at the time of the call
    Bytes bytes;            // Write
};

// A line of the dialog: rewritten only when the tag differs.
struct FakeLine {
    std::wstring text;
    uint8_t tag;
};

struct FakeWorld {
    std::vector<Event> events;
    FakeLine status;
    FakeLine info;
    bool channel_open;
    bool timer_armed;
    unsigned timer_period;
    unsigned refused_writes;   // writes tried while the channel was closed
    std::function<void()> during_message;   // runs inside show_message, like a nested loop
    std::function<void(bool status, const wchar_t* text)> line_written;   // a line's text changed
};
extern FakeWorld world;

// Fresh world and engine; the channel is open on the given port.
void reset_world(uint16_t port = 7);
// Events of one kind, in order.
std::vector<Event> events_of(Ev kind);
// Every frame written to the channel, in order.
std::vector<Bytes> writes();
