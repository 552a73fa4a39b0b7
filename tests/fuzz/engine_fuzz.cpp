// libFuzzer target: the update engine and the real port selection against the recording
// fakes, driven by a script of what the window and the line can deliver. After every
// event the engine's invariants are checked; a violation aborts with its reason.
//
// Script: one set-up byte (bit 0 -a, bit 1 -d, bit 2 the first open fails, bits 3..7 the
// port - 1), then events, each an opcode byte (modulo OP_COUNT) and its operands.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "device_frames.h"
#include "fake_host.h"
#include "firmware_image.h"
#include "frame_codec.h"
#include "port_selection.h"
#include "serial_channel.h"
#include "settings_store.h"
#include "update_engine.h"

namespace {

enum Op : uint8_t {
    OP_READ,          // n, n bytes: one read of raw line bytes
    OP_FRAME,         // n, n bytes: one read holding a CRC-correct frame of that body
    OP_ANSWER,        // r: the device answers the last frame written, r picks how
    OP_ACK_RUN,       // k: up to k + 1 block writes acknowledged, one read each
    OP_REPLY_TIMER,   // the reply timer expires (only while armed)
    OP_TICK,          // the 100 ms tick
    OP_POLL,          // "Опросить" (only while shown, never under a message box)
    OP_START,         // "СТАРТ" (the same)
    OP_PICK_PORT,     // p: another list item picked (only while the list is enabled)
    OP_LINE_LOST,     // the adapter is pulled: writes fail, nothing is read
    OP_LINE_BACK,     // the adapter is back under the same name
    OP_DISMISS,       // the message box is dismissed
    OP_OPEN_LIST,     // the port list is opened and scanned again (only while enabled)
    OP_COUNT,
};

// The script being played.
const uint8_t* script;
size_t script_size;
size_t cursor;

// What the window shows, as port selection and the engine left it.
bool poll_shown, start_shown, list_enabled;
unsigned box_depth;
bool dialog_ended;

// The channel: opened by port selection, closed by it or by the engine, lost by the line.
bool channel_opened;
size_t open_event_index;
bool line_lost;
bool next_open_fails;
uint16_t picked_port;

// What the checks remember between events.
size_t events_checked;     // the fake's events are dropped once checked, to keep runs fast
Bytes last_written;        // the updater's last frame on the line
int last_written_block;    // its block index, or -1 when it is not a block write
unsigned refused_seen;
long last_block_written;   // -1 right after a start: block 0 comes next
uint32_t counter_seen;     // the block counter only moves forward between starts and polls
uint8_t last_exit_code;
bool success_reply_on_line;

// An independent receiver over the bytes the engine was offered: it notices a finish
// reply with result 0, the only thing that may make the exit code 0.
uint8_t shadow[263];
unsigned shadow_length;
bool shadow_escape;

void check_invariants();

// Names the broken invariant and the script position, then stops the run as a finding.
void fail(const char* why)
{
    std::fprintf(stderr, "engine invariant violated: %s (event byte %zu)\n", why, cursor);
    std::abort();
}

// Fails with the reason unless ok.
void check(bool ok, const char* why)
{
    if (!ok)
        fail(why);
}

// The script's next byte; false at its end.
bool take(uint8_t* b)
{
    if (cursor >= script_size)
        return false;
    *b = script[cursor++];
    return true;
}

// Forgets a half-collected frame, as the engine's receiver does when an exchange begins.
void shadow_reset()
{
    shadow_length = 0;
    shadow_escape = false;
}

// One line byte through the same framing rules; notes a success reply when one closes.
void shadow_byte(uint8_t b)
{
    if (!shadow_escape && b == 0x7E) {
        if (shadow_length >= 6) {   // a finish reply: 4 body bytes at least, then the CRC
            unsigned n = shadow_length - 2;
            uint16_t carried = uint16_t(shadow[n] | shadow[n + 1] << 8);
            if (frame_crc(shadow, uint16_t(n)) == carried && shadow[0] == 0x54 && shadow[1] == 0x51 &&
                shadow[2] == 0x03 && shadow[3] == 0)
                success_reply_on_line = true;
        }
        shadow_length = 0;
        return;
    }
    if (!shadow_escape && b == 0x65) {
        shadow_escape = true;
        return;
    }
    shadow_escape = false;
    shadow[shadow_length++] = b;
    if (shadow_length > 262)
        shadow_length = 0;
}

// The channel's poll: the handler sees a read only while the port is open and present.
void deliver_read(const uint8_t* bytes, size_t count)
{
    if (!world.channel_open || count == 0)
        return;
    if (update_engine.state > 0)
        for (size_t i = 0; i < count; ++i)
            shadow_byte(bytes[i]);
    on_receive(bytes, uint16_t(count));
}

// One read made of the given bytes.
void deliver_bytes(const Bytes& bytes) { deliver_read(bytes.data(), bytes.size()); }

// The engine's view of the line after a start or a poll: a clean receiver, no block yet.
void note_exchange_begins(bool start)
{
    shadow_reset();
    last_block_written = start ? -1 : 0;
    counter_seen = 0;
}

// A device's answer to the last request; r chooses its tag, version, index or result.
void answer(uint8_t r)
{
    const Bytes* w = &last_written;
    int block = last_written_block;
    if (block >= 0) {
        int index = r < 0x80 ? block : block + int8_t(r);
        deliver_bytes(ack_frame(unsigned(index) & 0xFFFF));
    } else if (*w == WIRE_IDENTIFY) {
        deliver_bytes(device_frame(r & 1 ? Bytes{'I', 'D', r, uint8_t(r >> 1)} : Bytes{'I', 'D', 'T', 'Q'}));
    } else if (*w == WIRE_VERSION_REQUEST) {
        deliver_bytes(device_frame(r & 1 ? Bytes{0x54, 0x51, 0x01} : Bytes{0x54, 0x51, 0x01, r, r, 0x01}));
    } else if (*w == WIRE_FINISH_REQUEST) {
        deliver_bytes(finish_reply_frame(r % 3 == 0 ? 0 : r));
    }
}

// A device that acknowledges every block as it comes, for up to k + 1 blocks.
void ack_run(uint8_t k)
{
    for (unsigned i = 0; i <= k && !dialog_ended; ++i) {
        if (last_written_block < 0)
            return;
        deliver_bytes(ack_frame(unsigned(last_written_block)));
        check_invariants();
    }
}

// The body of a written frame, taken apart without allocating (the runs write thousands):
// flags at both ends only, escapes undone, the CRC correct. Empty when it is not so.
uint8_t written_body[MAX_FRAME_SIZE];
size_t unframe(const Bytes& frame)
{
    size_t n = 0;
    if (frame.size() < 4 || frame.front() != 0x7E || frame.back() != 0x7E)
        return 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
        if (frame[i] == 0x7E)
            return 0;
        if (frame[i] == 0x65 && ++i + 1 >= frame.size())
            return 0;
        written_body[n++] = frame[i];
    }
    if (n < 3 || frame_crc(written_body, uint16_t(n - 2)) != (written_body[n - 2] | written_body[n - 1] << 8))
        return 0;
    return n - 2;
}

// Block index of a written body (-1 for other requests); a block write must carry
// exactly that block of the image.
int written_block(const uint8_t* body, size_t length)
{
    if (length < 3 || body[0] != 0x54 || body[1] != 0x51 || body[2] != 0x02)
        return -1;
    check(length == 5u + BLOCK_SIZE, "block write of the wrong length");
    unsigned index = body[3] | body[4] << 8;
    check(index <= LAST_BLOCK, "block write past the last block");
    uint8_t expected[BLOCK_SIZE] = {};
    std::memcpy(expected, FirmwareImage + index * BLOCK_SIZE, index == LAST_BLOCK ? TAIL_SIZE : BLOCK_SIZE);
    check(std::memcmp(body + 5, expected, BLOCK_SIZE) == 0, "block write does not carry its image block");
    return int(index);
}

// Everything the engine may not do, checked over the events since the last check.
void check_invariants()
{
    const UpdateEngine& e = update_engine;
    int s = e.state;
    check(s == Idle || s == Polling || s == Transferring || s == Finishing || s == AutoStartPending || s == Closing,
          "unknown state");
    check(e.block_counter <= LAST_BLOCK, "block counter past 1230");
    check(e.block_counter >= counter_seen, "block counter went back without a start or a poll");
    counter_seen = e.block_counter;
    check(e.activity_counter >= 0 && e.activity_counter <= 15, "activity counter out of 0..15");
    for (; events_checked < world.events.size(); ++events_checked) {
        const Event& ev = world.events[events_checked];
        switch (ev.kind) {
        case Ev::Write: {
            size_t length = unframe(ev.bytes);
            check(length > 0, "a written frame does not parse");
            last_written = ev.bytes;
            last_written_block = written_block(written_body, length);
            if (last_written_block < 0)
                break;
            check(last_written_block == last_block_written || last_written_block == last_block_written + 1,
                  "block written out of order since the last start");
            last_block_written = last_written_block;
            break;
        }
        case Ev::Close:
            if (events_checked >= open_event_index)
                channel_opened = false;
            break;
        case Ev::TransferView:
            poll_shown = start_shown = list_enabled = false;
            break;
        case Ev::BlockProgress:
            check(ev.value >= 0 && ev.value <= 1231, "block progress out of 0..1231");
            break;
        case Ev::Activity:
            check(ev.value >= 0 && ev.value <= 15, "activity out of 0..15");
            break;
        case Ev::StartTimer:
            check(ev.value == 500 || ev.value == 1000, "reply timer period other than 500 or 1000 ms");
            break;
        case Ev::RememberPort:
            check(ev.value != 0 && ev.value == port_number, "remembered port is not the open one");
            break;
        case Ev::EndDialog:
            check(ev.state == Closing, "dialog ended outside Closing");
            dialog_ended = true;
            break;
        default:
            break;
        }
    }
    // A write refused by a lost line still sent the counter's block as far as the engine
    // knows, so an acknowledgement that then arrives (noise or not) rightly moves it on.
    if (world.refused_writes != refused_seen && s == Transferring && long(e.block_counter) > last_block_written)
        last_block_written = long(e.block_counter);
    if (last_block_written >= 0 && (s == Transferring || s == Finishing))
        check(uint32_t(last_block_written) == e.block_counter, "last block written is not the counter's block");
    check(world.refused_writes == refused_seen || line_lost, "written to a closed channel");
    refused_seen = world.refused_writes;
    if (e.exit_code == 0 && last_exit_code != 0)
        check(success_reply_on_line, "exit code 0 without a success reply");
    last_exit_code = e.exit_code;
    if (world.status.tag == 4)
        check(e.exit_code == 0, "\"ЗАВЕРШЕНО\" shown with a failure exit code");
    check(box_depth <= 1, "a message box over a message box");
    world.events.clear();
    events_checked = 0;
    open_event_index = 0;
}

bool run_events(bool in_box);

// The message box's own loop: the line and the timers go on until it is dismissed.
void during_box()
{
    ++box_depth;
    check_invariants();
    run_events(true);
    --box_depth;
}

// One event; false when the script asks to leave the current message box.
bool run_event(uint8_t op, bool in_box)
{
    uint8_t a = 0;
    switch (op % OP_COUNT) {
    case OP_READ:
    case OP_FRAME: {
        if (!take(&a))
            return true;
        size_t n = op % OP_COUNT == OP_FRAME ? a % 64 : a;
        if (n > script_size - cursor)
            n = script_size - cursor;
        Bytes bytes(script + cursor, script + cursor + n);
        cursor += n;
        if (op % OP_COUNT == OP_READ)
            deliver_bytes(bytes);
        else
            deliver_bytes(device_frame(bytes));
        break;
    }
    case OP_ANSWER:
        if (take(&a))
            answer(a);
        break;
    case OP_ACK_RUN:
        if (take(&a))
            ack_run(a);
        break;
    case OP_REPLY_TIMER:
        if (world.timer_armed)
            on_reply_timer();
        break;
    case OP_TICK:
        if (update_engine.state == AutoStartPending)
            note_exchange_begins(true);
        on_tick();
        break;
    case OP_POLL:
        if (!in_box && poll_shown) {
            note_exchange_begins(false);
            poll_device();
        }
        break;
    case OP_START:
        if (!in_box && start_shown) {
            note_exchange_begins(true);
            start_update();
        }
        break;
    case OP_PICK_PORT:
        if (take(&a) && !in_box && list_enabled) {
            picked_port = a & 0x3F;
            next_open_fails = a & 0x40;
            on_port_list_changed();
        }
        break;
    case OP_LINE_LOST:
        line_lost = true;
        world.channel_open = false;
        break;
    case OP_LINE_BACK:
        line_lost = false;
        world.channel_open = channel_opened;
        break;
    case OP_DISMISS:
        if (in_box)
            return false;
        break;
    case OP_OPEN_LIST:
        if (!in_box && list_enabled) {
            EngineState state = update_engine.state;
            uint16_t port = port_number;
            size_t events = world.events.size();
            rescan_ports();
            check(update_engine.state == state && port_number == port && world.events.size() == events,
                  "opening the list touched the engine, the port or the line");
        }
        break;
    }
    return true;
}

// Plays events until the script ends, the dialog ends, or (in a box) the box is dismissed.
bool run_events(bool in_box)
{
    uint8_t op;
    while (!dialog_ended && take(&op)) {
        bool go_on = run_event(op, in_box);
        check_invariants();
        if (!go_on)
            return true;
        // The script ends at Closing, as the dialog does on its next tick.
        if (!in_box && update_engine.state == Closing && !dialog_ended) {
            on_tick();
            check_invariants();
            check(dialog_ended, "Closing did not end the dialog");
        }
    }
    return false;
}

}  // namespace

// Port selection's view of the dialog: the list holds the picked port, buttons are tracked.
void port_list_clear() {}
void port_list_add(const wchar_t*) {}
void port_list_select_prefix(const wchar_t*) {}
void port_list_select_first() {}
void port_list_select_none() {}
void pause_ms(unsigned) {}
bool port_list_selected_text(wchar_t* buffer, unsigned capacity)
{
    std::swprintf(buffer, capacity, L"COM%u", unsigned(picked_port));
    return true;
}
// "Опросить" and "СТАРТ" can be pressed only while shown.
void show_buttons(bool visible) { poll_shown = start_shown = visible; }
void hide_start_button() { start_shown = false; }
void hide_progress_bars() {}
ProbeResult probe_port(unsigned) { return ProbeResult::Present; }
uint16_t load_port() { return 0; }

// The serial channel's open: the port may be busy; a pulled adapter stays pulled.
bool channel_open(uint8_t channel, uint8_t port, uint32_t, uint8_t, uint16_t, uint16_t, ReceiveHandler handler)
{
    check(channel == 0 && handler == on_receive, "channel opened without the engine's handler");
    open_event_index = world.events.size();
    channel_opened = port != 0 && !next_open_fails;
    world.channel_open = channel_opened && !line_lost;
    return channel_opened;
}

// One script: the dialog's start, then its events until the end or Closing.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    script = data;
    script_size = size;
    cursor = 1;
    uint8_t setup = data[0];
    reset_world(uint16_t(1 + (setup >> 3)));
    update_engine.auto_mode = setup & 1;
    update_engine.final_command_flag = setup & 2 ? 0 : 1;
    poll_shown = start_shown = false;
    list_enabled = true;
    box_depth = 0;
    dialog_ended = false;
    line_lost = false;
    next_open_fails = setup & 4;
    events_checked = 0;
    counter_seen = 0;
    last_written.clear();
    last_written_block = -1;
    refused_seen = 0;
    last_block_written = 0;   // like after a poll: the counter is 0, block 0 not sent
    last_exit_code = update_engine.exit_code;
    success_reply_on_line = false;
    shadow_reset();
    world.during_message = during_box;

    // As the dialog starts: the first open, then the automatic start is armed.
    open_port();
    if (update_engine.auto_mode)
        update_engine.state = AutoStartPending;
    check_invariants();
    run_events(false);
    return 0;
}
