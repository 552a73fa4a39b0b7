#include "station_run.h"

#include <cstdio>
#include <cstring>

#include "child_arguments.h"
#include "settings_store.h"
#include "station_platform.h"

PortSlot port_slots[STATION_MAX_PORTS];
unsigned port_slot_count;
char updater_path[STATION_PATH_CAPACITY];
char records_path[STATION_PATH_CAPACITY];
const char* station_version = "";

namespace {

LineReader readers[STATION_MAX_PORTS];
bool closing;

struct LineContext {
    unsigned slot;
};

void on_line(void* context, const char* text, unsigned length)
{
    unsigned slot = static_cast<LineContext*>(context)->slot;
    ChildLine line;
    if (!parse_child_line(text, length, &line))
        return;
    bool failing = records_status.failing;
    bool heard = port_slots[slot].device_heard;
    cycle_child_line(port_slots[slot], line, monotonic_ms());
    // The attempt begins when the device first answers, not when the wait for it began.
    if (!heard && port_slots[slot].device_heard)
        port_slots[slot].start_time = local_time_now();
    view_tile_changed(slot);
    if (failing != records_status.failing || records_status.failing)
        view_header_changed();
}

void follow(unsigned slot, const CycleAction& action)
{
    if (action.record != Outcome::None)
        station_write_record(port_slots[slot], action.record);
    view_tile_changed(slot);
    view_header_changed();
    if (action.start == ChildKind::None || closing)
        return;
    if (action.delay_ms)
        platform_child_start_later(slot, action.start, action.delay_ms);
    else
        station_start_child(slot, action.start);
}

}  // namespace

void station_start_ports()
{
    port_slot_count = station_options.port_count;
    for (unsigned i = 0; i < port_slot_count; ++i)
        cycle_begin(port_slots[i], station_options.ports[i]);
    for (unsigned i = 0; i < port_slot_count; ++i)
        station_start_child(i, ChildKind::Arrival);
}

void station_start_child(unsigned slot, ChildKind kind)
{
    if (closing || slot >= port_slot_count)
        return;
    PortSlot& s = port_slots[slot];
    ChildArguments arguments;
    child_arguments(kind, s.port, updater_path, records_path, arguments);
    line_reader_reset(readers[slot]);
    s.child = kind;
    if (!platform_child_start(slot, arguments)) {
        follow(slot, cycle_child_not_started(s));
        return;
    }
    cycle_child_started(s, kind, monotonic_ms(), local_time_now());
    view_tile_changed(slot);
}

void station_child_output(unsigned slot, const char* bytes, unsigned count)
{
    LineContext context = {slot};
    line_reader_feed(readers[slot], bytes, count, on_line, &context);
}

void station_child_ended(unsigned slot, ChildEnd how, uint32_t code)
{
    follow(slot, cycle_child_ended(port_slots[slot], how, code, monotonic_ms()));
}

void station_tick()
{
    uint32_t now = monotonic_ms();
    for (unsigned i = 0; i < port_slot_count; ++i)
        if (cycle_tick(port_slots[i], now))
            view_tile_changed(i);
}

unsigned station_updating_ports(char* names, unsigned capacity)
{
    unsigned count = 0, used = 0;
    names[0] = 0;
    for (unsigned i = 0; i < port_slot_count; ++i) {
        if (!cycle_updating(port_slots[i]))
            continue;
        int n = std::snprintf(names + used, capacity - used, "%sCOM%u", count ? ", " : "", unsigned(port_slots[i].port));
        if (n > 0 && used + unsigned(n) < capacity)
            used += unsigned(n);
        ++count;
    }
    return count;
}

void station_stop_all()
{
    closing = true;
    for (unsigned i = 0; i < port_slot_count; ++i) {
        cycle_stop(port_slots[i]);
        if (port_slots[i].child != ChildKind::None)
            platform_child_stop(i);
    }
}

bool station_all_stopped()
{
    for (unsigned i = 0; i < port_slot_count; ++i)
        if (port_slots[i].child != ChildKind::None)
            return false;
    return true;
}

bool settle_station_ports()
{
    char text[STATION_PORTS_CAPACITY];
    if (station_options.port_count == 0 && load_station_ports(text, sizeof text))
        parse_port_set(text, station_options);
    if (station_options.port_count == 0 && !choose_ports())
        return false;
    if (format_port_set(station_options, text, sizeof text))
        remember_station_ports(text);
    return true;
}
