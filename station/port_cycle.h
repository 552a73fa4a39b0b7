// One port's hands-free cycle: wait for a device and update it (the arrival child), show the
// result, wait until the device is gone (the removal child), again. Fed by what the children
// do and say; decides what the port's tile shows and which child runs next.
#pragma once
#include <cstdint>

#include "child_line.h"
#include "run_platform.h"

enum class ChildKind : uint8_t { None, Arrival, Removal };
enum class ChildEnd : uint8_t { Exited, Signalled };
// Grey, blue, green, red, and the colour of a device that already had this firmware.
enum class TileColour : uint8_t { Waiting, Updating, Done, Failed, UpToDate };
// The record's result words, in this order: see result_word().
enum class Outcome : uint8_t { None, Ok, UpToDate, DeviceError, NotTq734, NoAnswer, PortUnusable, Interrupted, Crashed };

constexpr unsigned STATE_TEXT_CAPACITY = 400;
constexpr uint32_t BLOCKS_IN_ALL = 1231;
// A child that could not be started, or ended before it did its job, is started again after this.
constexpr unsigned CHILD_RETRY_MS = 3000;

struct PortSlot {
    uint16_t port;
    ChildKind child;               // the child running now
    bool stopping;                 // the station is stopping the child (closing)
    // The tile.
    TileColour colour;
    char state_text[STATE_TEXT_CAPACITY];
    uint32_t blocks;               // acknowledged, 0..1231
    char version_before[16];       // "2.384", "none", or empty while unknown
    bool timing;                   // the update's clock runs
    uint32_t started_ms, elapsed_ms;
    // What the current arrival child has told of its device.
    bool device_heard;
    bool tq734;
    char device_id[8];
    bool result_seen;
    uint32_t result_code;
    char result_text[256];
    bool up_to_date;
    char give_up[24];
    bool final_sent;
    uint32_t resends;
    bool record_logged;            // the child logged "record written=..."
    LocalTime start_time;          // when the child began waiting for this device
    Outcome outcome;               // of the last device, once known
};

struct CycleAction {
    ChildKind start;               // the child to start next; None: nothing
    unsigned delay_ms;
    Outcome record;                // Crashed or Interrupted: the station writes this record itself
};

struct StationCounters {
    unsigned updated, failed, total;
};
extern StationCounters station_counters;

// The records file as the latest writer found it.
struct RecordsStatus {
    bool failing;
    char reason[32];
};
extern RecordsStatus records_status;

// A port at the start: waiting, nothing known.
void cycle_begin(PortSlot& slot, uint16_t port);
void cycle_child_started(PortSlot& slot, ChildKind kind, uint32_t now_ms, const LocalTime& now);
// The system refused to start the child: shown in red, tried again later.
CycleAction cycle_child_not_started(PortSlot& slot);
void cycle_child_line(PortSlot& slot, const ChildLine& line, uint32_t now_ms);
CycleAction cycle_child_ended(PortSlot& slot, ChildEnd how, uint32_t code, uint32_t now_ms);
// The station is closing: the running child is being stopped.
void cycle_stop(PortSlot& slot);
// An update is under way on this port: closing must ask first.
bool cycle_updating(const PortSlot& slot);
// The clock of a running update moves on; true when the shown seconds changed.
bool cycle_tick(PortSlot& slot, uint32_t now_ms);
// The station wrote (or failed to write) a record itself.
void note_record_written(bool ok, const char* reason);

// The tile's smaller lines, in UTF-8.
void tile_version_text(const PortSlot& slot, char* out, unsigned capacity);
void tile_time_text(const PortSlot& slot, char* out, unsigned capacity);
// "ok", "up_to_date", ... as the record names it.
const char* result_word(Outcome outcome);
