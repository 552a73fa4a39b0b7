// The recording fakes behind fake_host.h.
#include "fake_host.h"

#include "frame_codec.h"
#include "port_selection.h"
#include "serial_channel.h"
#include "settings_store.h"
#include "update_engine.h"

FakeWorld world;

// Appends an event stamped with the engine's current state.
static Event& record(Ev kind, int value = 0)
{
    Event e{};
    e.kind = kind;
    e.value = value;
    e.state = update_engine.state;
    world.events.push_back(e);
    return world.events.back();
}

static void set_line(FakeLine& line, Ev kind, const wchar_t* text, uint8_t tag)
{
    Event& e = record(kind, tag);
    e.has_text = text != nullptr;
    if (text)
        e.text = text;
    if (line.tag == tag)
        return;
    line.text = text ? text : L"";
    line.tag = tag;
    if (world.line_written)
        world.line_written(kind == Ev::Status, line.text.c_str());
}

void set_status(const wchar_t* text, uint8_t tag) { set_line(world.status, Ev::Status, text, tag); }
void set_info(const wchar_t* text, uint8_t tag) { set_line(world.info, Ev::Info, text, tag); }
void set_block_progress(int position) { record(Ev::BlockProgress, position); }
void set_activity(int position) { record(Ev::Activity, position); }
void enter_transfer_view() { record(Ev::TransferView); }
void end_dialog() { record(Ev::EndDialog); }

void show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind)
{
    Event& e = record(Ev::Message);
    e.has_text = text != nullptr;
    if (text)
        e.text = text;
    e.has_caption = caption != nullptr;
    if (caption)
        e.caption = caption;
    e.message_kind = kind;
    if (world.during_message)
        world.during_message();
}

void start_reply_timer(unsigned milliseconds)
{
    record(Ev::StartTimer, int(milliseconds));
    world.timer_armed = true;
    world.timer_period = milliseconds;
}

void stop_reply_timer()
{
    record(Ev::StopTimer);
    world.timer_armed = false;
}

bool channel_write(uint8_t channel, const uint8_t* bytes, uint16_t length)
{
    if (channel != 0 || !world.channel_open) {
        ++world.refused_writes;
        return false;
    }
    record(Ev::Write).bytes.assign(bytes, bytes + length);
    return true;
}

void channel_close(uint8_t channel)
{
    record(Ev::Close, channel);
    if (channel == 0)
        world.channel_open = false;
}

bool channel_port_present(uint8_t channel) { return channel == 0 && world.channel_open; }

void remember_port(uint16_t port) { record(Ev::RememberPort, port); }

void reset_world(uint16_t port)
{
    world = FakeWorld{};
    world.channel_open = true;
    port_number = port;
    build_crc_table();
    reset_receiver();
    engine_reset();
}

std::vector<Event> events_of(Ev kind)
{
    std::vector<Event> out;
    for (const Event& e : world.events)
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

std::vector<Bytes> writes()
{
    std::vector<Bytes> out;
    for (const Event& e : world.events)
        if (e.kind == Ev::Write)
            out.push_back(e.bytes);
    return out;
}
