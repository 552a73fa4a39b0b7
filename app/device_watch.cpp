#include "device_watch.h"

#include "banner.h"
#include "engine_host.h"
#include "frame_codec.h"
#include "port_selection.h"
#include "run_log.h"
#include "run_platform.h"
#include "script_options.h"
#include "serial_channel.h"
#include "update_engine.h"

namespace {

constexpr uint32_t PORT_RETRY_MS = 1000;     // an absent or busy port, tried again
constexpr uint32_t REMOVAL_ASK_MS = 500;     // the identification request while watching
constexpr uint32_t REMOVAL_SILENCE_MS = 2000;   // unanswered that long: the device is gone

WatchMode mode;
uint16_t watched_port;
bool port_state_logged;
bool port_was_usable;
uint32_t last_open_try_ms;
bool answered;
bool version_pending;
Reply pending_version;
bool decided;
bool up_to_date;
uint32_t last_ask_ms;
uint32_t last_answer_ms;

// "port state=open|unusable", each time it changes.
void log_port_state(bool usable)
{
    if (port_state_logged && usable == port_was_usable)
        return;
    port_state_logged = true;
    port_was_usable = usable;
    LogLine line;
    log_begin(line, "port");
    log_field(line, "state", usable ? "open" : "unusable");
    log_end(line);
}

// The run ends without anything more written: exit 0, the next tick ends the program.
void finish_quietly()
{
    stop_reply_timer();
    channel_close(0);
    update_engine.exit_code = EXIT_UPDATED;
    update_engine.state = Closing;
}

void gone(const char* reason)
{
    LogLine line;
    log_begin(line, "gone");
    log_field(line, "reason", reason);
    log_end(line);
    finish_quietly();
}

void send_identify_request()
{
    SealedMessage request = make_identify_request();
    Frame frame = encode_frame(request.bytes, request.length);
    (void)channel_write(0, frame.bytes, frame.length);
}

// While watching for removal the engine is idle: these bytes are the watch's own.
void on_removal_bytes(const uint8_t* bytes, uint16_t count)
{
    if (mode != WatchMode::Removal || update_engine.state == Closing)
        return;
    for (uint16_t i = 0; i < count; ++i) {
        ReceivedMessage message = receive_byte(bytes[i]);
        if (message.body && classify_reply(message.body, message.length).kind == ReplyKind::IdentifyReply)
            last_answer_ms = monotonic_ms();
    }
}

// The port is open (again): the engine polls it every 500 ms until a device answers.
void begin_arrival_poll()
{
    log_port_state(true);
    poll_device();
}

void arrival_tick()
{
    if (decided || update_engine.state == Closing)
        return;
    uint32_t now = monotonic_ms();
    if (port_number == 0) {
        log_port_state(false);
        if (now - last_open_try_ms < PORT_RETRY_MS)
            return;
        last_open_try_ms = now;
        port_number = watched_port;
        open_port();
        if (port_number != 0)
            begin_arrival_poll();
        return;
    }
    // A device with its own USB port may go and come back: the channel reopens it meanwhile.
    log_port_state(channel_port_present(0));
    if (!version_pending || update_engine.state != Idle)
        return;
    version_pending = false;
    decided = true;
    if (judge_version(pending_version, script_options.force) == VersionVerdict::UpToDate) {
        up_to_date = true;
        LogLine line;
        log_begin(line, "up_to_date");
        log_text(line, " version=");
        log_number(line, pending_version.major);
        log_text(line, ".");
        log_number(line, pending_version.minor);
        log_end(line);
        finish_quietly();
        return;
    }
    start_update();
}

void removal_tick()
{
    if (update_engine.state == Closing)
        return;
    uint32_t now = monotonic_ms();
    if (!channel_port_present(0)) {
        gone("removed");
        return;
    }
    if (now - last_answer_ms >= REMOVAL_SILENCE_MS) {
        gone("silent");
        return;
    }
    if (now - last_ask_ms >= REMOVAL_ASK_MS) {
        last_ask_ms = now;
        send_identify_request();
    }
}

}  // namespace

VersionVerdict judge_version(const Reply& version, bool force)
{
    if (!force && version.has_version && version.major == TQ_FIRMWARE_VERSION_MAJOR &&
        version.minor == TQ_FIRMWARE_VERSION_MINOR)
        return VersionVerdict::UpToDate;
    return VersionVerdict::Update;
}

void watch_prepare()
{
    mode = WatchMode::None;
    port_state_logged = answered = version_pending = decided = up_to_date = false;
    if (script_options.until_gone)
        mode = WatchMode::Removal;
    else if (script_options.wait_device && update_engine.auto_mode)
        mode = WatchMode::Arrival;
    if (mode == WatchMode::Removal)
        port_receiver = on_removal_bytes;
}

bool watch_start()
{
    uint32_t now = monotonic_ms();
    if (mode == WatchMode::Removal) {
        if (port_number == 0) {
            log_port_state(false);
            gone("removed");
            return true;
        }
        log_port_state(true);
        reset_receiver();
        last_answer_ms = last_ask_ms = now;
        send_identify_request();
        return true;
    }
    if (mode != WatchMode::Arrival)
        return true;
    watched_port = script_options.port_given ? script_options.named_port : port_number;
    if (watched_port == 0)
        return false;
    last_open_try_ms = now;
    if (port_number != 0)
        begin_arrival_poll();
    else
        log_port_state(false);
    return true;
}

void watch_tick()
{
    if (mode == WatchMode::Arrival)
        arrival_tick();
    else if (mode == WatchMode::Removal)
        removal_tick();
}

void watch_heard(const Reply& reply)
{
    if (mode != WatchMode::Arrival || decided)
        return;
    answered = true;
    // Reported before the engine ends its poll: the decision waits for the next tick.
    if (reply.kind == ReplyKind::VersionReply && update_engine.state == Polling) {
        version_pending = true;
        pending_version = reply;
    }
}

WatchMode watch_mode()
{
    return mode;
}

bool watch_device_answered()
{
    return answered;
}

bool watch_found_up_to_date()
{
    return up_to_date;
}
