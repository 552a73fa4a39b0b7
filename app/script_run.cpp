#include "script_run.h"

#include "device_watch.h"
#include "engine_events.h"
#include "engine_texts.h"
#include "firmware_image.h"
#include "line_text.h"
#include "port_selection.h"
#include "run_log.h"
#include "run_platform.h"
#include "run_record.h"
#include "script_options.h"
#include "serial_channel.h"
#include "update_engine.h"

namespace {

uint32_t started_ms;
uint32_t heard_ms;            // the device last spoke, or the exchange began
unsigned progress_tenths;     // tenths of the image acknowledged so far, as logged
bool in_silence;
uint32_t silence_block;
unsigned silence_resends;
EngineState silence_phase;
bool version_logged;
Reply logged_version;
// What each line showed last, as logged: the version text is set twice with one text.
wchar_t shown[2][VERSION_TEXT_CAPACITY + 64];

const char* phase_name(EngineState state)
{
    switch (state) {
    case Polling: return "poll";
    case Transferring: return "transfer";
    case Finishing: return "finish";
    default: return "idle";
    }
}

bool waiting_for_device(EngineState state)
{
    return state == Polling || state == Transferring || state == Finishing;
}

// The device failed to answer in time: a silence begins, at the block (or the wait) in hand.
void begin_silence(uint32_t block)
{
    if (in_silence)
        return;
    in_silence = true;
    silence_resends = 0;
    silence_block = block;
    silence_phase = update_engine.state;
}

// A silence ends when the device speaks again, the exchange starts anew, or the run ends.
void end_silence(const char* how)
{
    if (!in_silence)
        return;
    in_silence = false;
    LogLine line;
    log_begin(line, "silence");
    log_field(line, "phase", phase_name(silence_phase));
    if (silence_phase != Polling)
        log_field(line, "block", silence_block);
    log_field(line, "resends", silence_resends);
    log_field(line, "ms", monotonic_ms() - heard_ms);
    log_field(line, "ended", how);
    log_end(line);
}

void log_device(const Reply& reply)
{
    LogLine line;
    switch (reply.kind) {
    case ReplyKind::IdentifyReply: {
        // Two bytes from the device: a plain word, whatever they are.
        char tag[8] = {};
        for (unsigned i = 0; i < 2; ++i) {
            uint8_t c = reply.device_tag[i];
            tag[i] = c < 128 && is_plain_char(static_cast<char>(c)) ? static_cast<char>(c) : '?';
        }
        log_begin(line, "device");
        log_field(line, "id", tag);
        log_field(line, "tq734", is_tq734(reply) ? "yes" : "no");
        log_end(line);
        break;
    }
    case ReplyKind::VersionReply:
        // Asked for every fifteen blocks: logged when it is new.
        if (version_logged && reply.has_version == logged_version.has_version && reply.major == logged_version.major &&
            reply.minor == logged_version.minor)
            break;
        version_logged = true;
        logged_version = reply;
        log_begin(line, "device");
        if (reply.has_version) {
            log_text(line, " version=");
            log_number(line, reply.major);
            log_text(line, ".");
            log_number(line, reply.minor);
        } else {
            log_field(line, "version", "none");
        }
        log_end(line);
        break;
    case ReplyKind::BlockAck: {
        unsigned tenths = (reply.block_index + 1u) * 10u / BLOCK_COUNT;
        if (tenths > progress_tenths) {
            progress_tenths = tenths;
            log_begin(line, "progress");
            log_field(line, "percent", tenths * 10u);
            log_field(line, "blocks", reply.block_index + 1u);
            log_field(line, "of", BLOCK_COUNT);
            log_end(line);
        }
        break;
    }
    case ReplyKind::FinishReply:
        log_begin(line, "result");
        log_field(line, "code", reply.result_code);
        log_quoted(line, "text", reply.result_code == 0 ? TEXT_UPDATE_SUCCEEDED
                                                        : result_code_text(reply.result_code));
        log_end(line);
        break;
    case ReplyKind::Ignored:
        break;
    }
}

// What the engine does beside its view.
void on_engine_event(const EngineEvent& event)
{
    switch (event.kind) {
    case EngineEventKind::ExchangeBegun:
        if (update_engine.state == Transferring)
            run_record_transfer_begun();
        end_silence("restart");
        heard_ms = monotonic_ms();
        progress_tenths = 0;
        break;
    case EngineEventKind::DeviceHeard:
        end_silence("reply");
        heard_ms = monotonic_ms();
        if (event.reply) {
            // Waiting for a device: the attempt begins when it first answers.
            if (watch_mode() == WatchMode::Arrival && !watch_device_answered())
                run_record_restart();
            watch_heard(*event.reply);
            run_record_heard(*event.reply);
            log_device(*event.reply);
        }
        break;
    case EngineEventKind::Resent:
        begin_silence(event.block);
        ++silence_resends;
        run_record_resent();
        break;
    case EngineEventKind::FinalCommand: {
        LogLine line;
        log_begin(line, "final_command");
        log_text(line, event.sent ? " sent" : " not_sent reason=option_d");
        log_end(line);
        run_record_final_command(event.sent != 0);
        break;
    }
    }
}

// Every change of what the status or info line shows, in its exact text.
void on_line_text(TextLine which, const wchar_t* text)
{
    wchar_t* last = shown[which];
    unsigned n = 0;
    while (text[n] && last[n] == text[n])
        ++n;
    if (text[n] == 0 && last[n] == 0)
        return;
    unsigned capacity = sizeof shown[which] / sizeof shown[which][0];
    for (n = 0; text[n] && n + 1 < capacity; ++n)
        last[n] = text[n];
    last[n] = 0;
    LogLine line;
    log_begin(line, which == StatusLine ? "status" : "info");
    log_quoted(line, "text", text);
    log_end(line);
}

// No final command, exit 127, no message box: the next tick ends the program. limit_s: the
// silence limit that ran out, 0 for another reason.
void give_up(const char* reason, uint32_t limit_s)
{
    run_record_gave_up(reason);
    end_silence("gave_up");
    LogLine line;
    log_begin(line, "give_up");
    log_field(line, "reason", reason);
    if (limit_s)
        log_field(line, "limit_s", limit_s);
    log_end(line);
    stop_reply_timer();
    channel_close(0);
    update_engine.exit_code = EXIT_NO_UPDATE;
    update_engine.state = Closing;
    log_begin(line, "final_command");
    log_text(line, " not_sent reason=gave_up");
    log_end(line);
}

}  // namespace

void script_run_start(const char* program_version)
{
    started_ms = monotonic_ms();
    heard_ms = started_ms;
    run_log_open();
    run_record_start(program_version);
    watch_prepare();
    engine_event_sink = on_engine_event;
    line_text_observer = on_line_text;
    char type_name[TYPE_NAME_CAPACITY] = "none";
    uint32_t crc = 0;
    bool header = firmware_header(type_name, sizeof type_name, &crc);
    static const char HEX[] = "0123456789ABCDEF";
    char crc_text[11] = "0x";
    for (unsigned i = 0; i < 8; ++i)
        crc_text[2 + i] = HEX[crc >> (28 - 4 * i) & 0xF];
    crc_text[10] = 0;
    const ScriptOptions& o = script_options;
    LogLine line;
    log_begin(line, "start");
    log_field(line, "version", program_version);
    log_field(line, "firmware_size", IMAGE_SIZE);
    log_field(line, "firmware_type", header ? type_name : "none");
    log_field(line, "crc_firmware", header ? crc_text : "none");
    log_field(line, "sha256", FIRMWARE_SHA256);
    log_field(line, "auto", update_engine.auto_mode ? "yes" : "no");
    log_field(line, "final_command", update_engine.final_command_flag ? "yes" : "no");
    if (o.port_given)
        log_field(line, "port", o.named_port ? "named" : "invalid");
    else
        log_field(line, "port", "remembered");
    if (o.port_given)
        log_field(line, "p", o.port_text[0] ? o.port_text : "\"\"");
    if (o.limit_given) {
        log_field(line, "t", o.limit_text[0] ? o.limit_text : "\"\"");
        // What the program will do: -t counts only with -a.
        if (!update_engine.auto_mode)
            log_field(line, "silence_limit_s", "ignored");
        else if (o.limit_seconds)
            log_field(line, "silence_limit_s", o.limit_seconds);
        else
            log_field(line, "silence_limit_s", "invalid");
    }
    log_end(line);
}

bool script_run_refuses_options()
{
    // A record that could not go where it was asked to would be lost: refused like -t.
    if (script_options.record_given && !script_options.record_valid) {
        script_run_note("give_up", "bad_record_path");
        run_record_cancel();
        return true;
    }
    if (!update_engine.auto_mode || !script_options.limit_given || script_options.limit_seconds != 0)
        return false;
    script_run_note("give_up", "bad_limit");
    run_record_cancel();
    return true;
}

void script_run_after_initial_port(bool can_pick_port)
{
    if (watch_mode() != WatchMode::None) {
        if (!watch_start())
            give_up("port_unusable", 0);
        return;
    }
    if (!update_engine.auto_mode)
        return;
    if (port_number == 0 && (script_options.port_given || !can_pick_port)) {
        give_up("port_unusable", 0);
        return;
    }
    update_engine.state = AutoStartPending;
}

void script_run_tick()
{
    watch_tick();
    uint32_t limit = script_options.limit_seconds;
    if (!update_engine.auto_mode || limit == 0 || !waiting_for_device(update_engine.state))
        return;
    // An absent device is not a silent one: the limit counts from its first reply.
    if (watch_mode() == WatchMode::Arrival && !watch_device_answered())
        return;
    if (monotonic_ms() - heard_ms < limit * 1000u)
        return;
    // Finishing has no resends: there the silence is the wait for the device's result.
    begin_silence(update_engine.block_counter);
    give_up("silence_limit", limit);
}

void script_run_message(const wchar_t* text, const wchar_t* caption, MessageKind kind)
{
    LogLine line;
    log_begin(line, "message");
    log_field(line, "kind", kind == MessageKind::Error ? "error" : "information");
    if (caption)
        log_quoted(line, "caption", caption);
    log_quoted(line, "text", text);
    log_end(line);
}

void script_run_note(const char* event, const char* reason)
{
    LogLine line;
    log_begin(line, event);
    log_field(line, "reason", reason);
    log_end(line);
}

void script_run_exit(uint8_t exit_code)
{
    end_silence("exit");
    run_record_finish(exit_code);
    uint32_t elapsed = monotonic_ms() - started_ms;
    LogLine line;
    log_begin(line, "exit");
    log_field(line, "code", exit_code);
    log_text(line, " seconds=");
    log_number(line, elapsed / 1000u);
    log_text(line, ".");
    char tenths[4] = {static_cast<char>('0' + elapsed / 100u % 10u), static_cast<char>('0' + elapsed / 10u % 10u),
                      static_cast<char>('0' + elapsed % 10u), 0};
    log_text(line, tenths);
    log_end(line);
}
