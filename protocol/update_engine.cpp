// Poll, transfer, finish, retransmission and outcome of an update, driven by the
// dialog's commands, the channel's receive handler and two timers.
#include "update_engine.h"

#include "engine_events.h"
#include "engine_host.h"
#include "engine_texts.h"
#include "firmware_image.h"
#include "frame_codec.h"
#include "messages.h"
#include "port_selection.h"
#include "serial_channel.h"
#include "settings_store.h"

namespace {
constexpr uint8_t CHANNEL = 0;
constexpr unsigned POLL_REPLY_MS = 500;
constexpr unsigned BLOCK_REPLY_MS = 1000;
constexpr unsigned FINISH_REPLY_MS = 500;
constexpr int8_t ACTIVITY_CYCLE = 15;

// Tags of the status line's texts (the texts are in engine_texts.cpp).
constexpr uint8_t TAG_CLEARED = 0;
constexpr uint8_t TAG_WAITING = 8;
constexpr uint8_t TAG_EXCHANGING = 2;
constexpr uint8_t TAG_UPDATING = 1;
constexpr uint8_t TAG_COMPLETED = 4;
constexpr uint8_t TAG_ERROR = 5;

// Tags of the info line's texts.
constexpr uint8_t TAG_NO_REPLY = 2;
constexpr uint8_t TAG_SUCCESS = 1;
constexpr uint8_t TAG_VERSION = 4;
constexpr uint8_t TAG_WRONG_DEVICE = 3;
}

UpdateEngine update_engine = {Idle, 0, 0, 0, {}, EXIT_NO_UPDATE, 0, 1};
void (*engine_event_sink)(const EngineEvent& event);

// Tells the listener, if there is one.
static void report(EngineEventKind kind, const Reply* reply = nullptr, uint32_t block = 0, uint8_t sent = 0)
{
    if (engine_event_sink)
        engine_event_sink(EngineEvent{kind, reply, block, sent});
}

void engine_reset()
{
    update_engine = UpdateEngine{Idle, 0, 0, 0, {}, EXIT_NO_UPDATE, 0, 1};
}

// One frame, one write; a failed write shows up later as silence and is retransmitted.
static void send_message(const SealedMessage& sealed)
{
    Frame frame = encode_frame(sealed.bytes, sealed.length);
    (void)channel_write(CHANNEL, frame.bytes, frame.length);
}

// Sends one block and waits up to a second for its acknowledgement.
static void send_block(uint32_t index)
{
    stop_reply_timer();
    set_block_progress(int(index));
    send_message(make_block_write(uint16_t(index)));
    start_reply_timer(BLOCK_REPLY_MS);
}

// Tells the device the image length; the device then checks and writes the image.
static void send_finish()
{
    stop_reply_timer();
    send_message(make_finish_request());
    start_reply_timer(FINISH_REPLY_MS);
    set_status(STATUS_UPDATING, TAG_UPDATING);
    update_engine.state = Finishing;
}

// Clears what a previous poll or update left behind.
static void begin_exchange()
{
    stop_reply_timer();
    reset_receiver();
    update_engine.block_counter = 0;
    update_engine.activity_counter = 0;
}

void poll_device()
{
    begin_exchange();
    update_engine.state = Polling;
    report(EngineEventKind::ExchangeBegun);
    start_reply_timer(POLL_REPLY_MS);
    send_message(make_identify_request());
    set_status(STATUS_WAITING, TAG_WAITING);
}

void start_update()
{
    begin_exchange();
    set_status(STATUS_WAITING, TAG_WAITING);
    update_engine.state = Transferring;
    report(EngineEventKind::ExchangeBegun);
    enter_transfer_view();
    send_block(0);
}

// A device that is not a TQ734 answered: shown in both lines; auto mode gives up.
static void on_wrong_device()
{
    update_engine.state = Idle;
    set_status(STATUS_ERROR, TAG_ERROR);
    set_info(INFO_WRONG_DEVICE, TAG_WRONG_DEVICE);
    update_engine.exit_code = EXIT_WRONG_DEVICE;
    if (update_engine.auto_mode) {
        show_message(TEXT_WRONG_DEVICE_BOX, nullptr, MessageKind::Error);
        update_engine.state = Closing;
    }
}

// Shows the device's version, or "Успешно" for a reply without one; ends a poll.
static void on_version_reply(const Reply& reply)
{
    if (reply.has_version) {
        format_version_text(update_engine.version_text, VERSION_TEXT_CAPACITY, reply.major, reply.minor);
        update_engine.version_known = 1;
        // Same tag as the previous version text: clear the tag first so the line is rewritten.
        set_info(update_engine.version_text, TAG_CLEARED);
        set_info(update_engine.version_text, TAG_VERSION);
    } else {
        set_info(INFO_SUCCESS, TAG_SUCCESS);
    }
    if (update_engine.state == Polling) {
        update_engine.state = Idle;
        set_status(nullptr, TAG_CLEARED);
    }
}

// The current block arrived: send the next one, or the finish request after the tail.
static void on_block_ack(uint16_t index)
{
    UpdateEngine& e = update_engine;
    if (index != e.block_counter)
        return;   // a late duplicate or a stray index
    Reply ack = {};
    ack.kind = ReplyKind::BlockAck;
    ack.block_index = index;
    report(EngineEventKind::DeviceHeard, &ack, index);
    if (e.version_known)
        set_info(e.version_text, TAG_VERSION);
    else
        set_info(INFO_SUCCESS, TAG_SUCCESS);
    if (e.block_counter + 1 > LAST_BLOCK) {
        send_finish();
        return;
    }
    if (e.activity_counter == 1)
        send_message(make_version_request());
    e.block_counter += 1;
    send_block(e.block_counter);
    set_status(STATUS_EXCHANGING, TAG_EXCHANGING);
    e.activity_counter = int8_t(e.activity_counter + 1);
    if (e.activity_counter > ACTIVITY_CYCLE)
        e.activity_counter = 1;
    set_activity(e.activity_counter);
    set_block_progress(int(e.block_counter));
}

// The device's verdict on the image: report it, send the final command, close.
static void on_finish_reply(uint8_t result)
{
    UpdateEngine& e = update_engine;
    // Acted on before the last block too: the device alone knows whether its flash holds
    // a good image, and it may end an update early.
    e.state = Idle;   // bytes polled during the message box are discarded
    if (result == 0) {
        set_activity(ACTIVITY_CYCLE);
        set_status(STATUS_COMPLETED, TAG_COMPLETED);
        remember_port(port_number);
        e.exit_code = EXIT_UPDATED;
        if (!e.auto_mode)
            show_message(TEXT_UPDATE_SUCCEEDED, CAPTION_INFORMATION, MessageKind::Information);
    } else {
        set_status(STATUS_ERROR, TAG_ERROR);
        e.exit_code = result;
        show_message(result_code_text(result), nullptr, MessageKind::Error);
    }
    if (e.final_command_flag)
        send_message(make_final_command());
    report(EngineEventKind::FinalCommand, nullptr, 0, e.final_command_flag);
    channel_close(CHANNEL);
    e.state = Closing;
}

// Acts on one CRC-checked message.
static void act_on_reply(const Reply& reply)
{
    switch (reply.kind) {
    case ReplyKind::IdentifyReply:
        report(EngineEventKind::DeviceHeard, &reply);
        if (is_tq734(reply))
            send_message(make_version_request());
        else
            on_wrong_device();
        break;
    case ReplyKind::VersionReply:
        report(EngineEventKind::DeviceHeard, &reply);
        on_version_reply(reply);
        break;
    case ReplyKind::BlockAck:
        on_block_ack(reply.block_index);
        break;
    case ReplyKind::FinishReply:
        // Only an update under way can end: a stray success reply while polling, or before
        // the first block in auto mode, would report an update the device never received.
        if (update_engine.state == Transferring || update_engine.state == Finishing) {
            report(EngineEventKind::DeviceHeard, &reply);
            on_finish_reply(reply.result_code);
        }
        break;
    case ReplyKind::Ignored:
        break;
    }
}

void on_receive(const uint8_t* bytes, uint16_t count)
{
    for (uint16_t i = 0; i < count; ++i) {
        // Checked before every byte: an action may have shown a message box (whose
        // nested polls overwrote this buffer) or closed the channel (which freed it).
        if (update_engine.state <= 0)
            return;
        ReceivedMessage message = receive_byte(bytes[i]);
        if (message.body != nullptr)
            act_on_reply(classify_reply(message.body, message.length));
    }
}

void on_reply_timer()
{
    switch (update_engine.state) {
    case Polling:
        set_info(INFO_NO_REPLY, TAG_NO_REPLY);
        send_message(make_identify_request());
        report(EngineEventKind::Resent);
        break;
    case Transferring:
        set_info(INFO_NO_REPLY, TAG_NO_REPLY);
        send_block(update_engine.block_counter);
        report(EngineEventKind::Resent, nullptr, update_engine.block_counter);
        break;
    default:
        stop_reply_timer();
        break;
    }
}

void on_tick()
{
    if (update_engine.state == AutoStartPending) {
        if (port_number == 0)
            update_engine.state = Idle;
        else
            start_update();
    }
    if (update_engine.state == Closing)
        end_dialog();
}
