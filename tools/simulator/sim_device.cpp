// The TQ734's side of the conversation, written from the message byte layouts.
#include "sim_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim_clock.h"
#include "sim_options.h"
#include "sim_output.h"
#include "sim_random.h"
#include "sim_report.h"

static const uint16_t BLOCK_COUNT = DEVICE_LAST_BLOCK + 1;

static std::vector<uint8_t> expected_image;
static std::vector<uint8_t> received_image(DEVICE_IMAGE_SIZE, 0);
static std::vector<int64_t> block_last_seen_us(BLOCK_COUNT, -1);
static bool tail_padding_zero = true;
static unsigned long block_writes = 0;
static unsigned blocks_new = 0;
static unsigned long retransmissions = 0;
static long highest_block = -1;
static unsigned long finish_requests = 0;
static bool finish_length_wrong = false;
static bool final_received = false;
static int64_t final_time_us = 0;
static bool early_finish_sent = false;
static bool unsolicited_sent = false;
static std::vector<long> unplugged_at;  // blocks at which the line was already pulled
static bool unplug_pending = false;
static unsigned long bad_frames = 0;
static uint32_t last_finish_length = 0;
// Set by the first block at or past --silent-from-block: from then on the device says nothing.
static bool device_silent = false;
static bool arrived = false;
// After the final command with --restart-silence-ms: silent until then, then the new version.
static bool restarting = false;
static int64_t restart_until_us = 0;
// Set by block --stop-reading-at-block: the line is never read again.
static bool reading_stopped = false;
// Acknowledgements sent unread after reading stops, to fill the line quickly.
constexpr uint16_t BLIND_ACKS = 80;
constexpr int64_t BLIND_ACK_GAP_US = 10000;

// Queues a reply unless the device has gone silent.
static void reply(const uint8_t* body, uint16_t length, const char* what, int64_t at_us)
{
    if (device_silent) {
        report_event(sim_now_us(), "silent: no %s", what);
        return;
    }
    output_queue_reply(body, length, what, at_us);
}

bool device_load_expected_image(const char* path)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "tq734_sim: cannot open image %s\n", path);
        return false;
    }
    expected_image.assign(DEVICE_IMAGE_SIZE + 1, 0);
    size_t n = fread(expected_image.data(), 1, expected_image.size(), f);
    fclose(f);
    if (n != DEVICE_IMAGE_SIZE) {
        fprintf(stderr, "tq734_sim: image %s is %zu bytes, not %u\n", path, n, DEVICE_IMAGE_SIZE);
        return false;
    }
    expected_image.resize(DEVICE_IMAGE_SIZE);
    return true;
}

bool device_stopped_reading()
{
    return reading_stopped;
}

bool device_take_unplug()
{
    bool pending = unplug_pending;
    unplug_pending = false;
    return pending;
}

bool device_final_received(int64_t* when_us)
{
    *when_us = final_time_us;
    return final_received;
}

// When a reply to a request that ended at wire_end_us may start.
static int64_t reply_time(int64_t now_us, int64_t wire_end_us)
{
    int64_t t = wire_end_us > now_us ? wire_end_us : now_us;
    return t + int64_t(sim_options.delay_ms) * 1000;
}

// Hex dump of the first bytes of a body, for unknown messages.
static std::string hex_of(const uint8_t* body, uint16_t length)
{
    std::string s;
    char two[4];
    for (uint16_t i = 0; i < length && i < 16; ++i) {
        snprintf(two, sizeof two, i ? " %02X" : "%02X", body[i]);
        s += two;
    }
    if (length > 16)
        s += " ...";
    return s;
}

// IdentifyReply: "ID" and the two tag bytes.
static void send_identify_reply(const uint8_t* tag, const char* what, int64_t at_us)
{
    uint8_t body[4] = {'I', 'D', tag[0], tag[1]};
    char name[64];
    snprintf(name, sizeof name, "%s %c%c", what, tag[0], tag[1]);
    reply(body, 4, name, at_us);
}

// VersionReply: 54 51 01, then major and minor (u16 LE) unless told to leave them out.
static void send_version_reply(int64_t at_us)
{
    uint8_t body[6] = {0x54, 0x51, 0x01, sim_options.version_major,
                       uint8_t(sim_options.version_minor & 0xFF), uint8_t(sim_options.version_minor >> 8)};
    char name[64];
    if (sim_options.version_fields)
        snprintf(name, sizeof name, "version reply %u.%u", sim_options.version_major, sim_options.version_minor);
    else
        snprintf(name, sizeof name, "version reply without fields");
    reply(body, sim_options.version_fields ? 6 : 3, name, at_us);
}

// FinishReply: 54 51 03 and the result code.
static void send_finish_reply(const char* what, int64_t at_us)
{
    uint8_t body[4] = {0x54, 0x51, 0x03, sim_options.result};
    char name[64];
    snprintf(name, sizeof name, "%s result %u", what, sim_options.result);
    reply(body, 4, name, at_us);
}

// BlockAck: 54 51 02 and the index (u16 LE).
static void send_block_ack(uint16_t index, const char* what, int64_t at_us)
{
    uint8_t body[5] = {0x54, 0x51, 0x02, uint8_t(index & 0xFF), uint8_t(index >> 8)};
    char name[64];
    snprintf(name, sizeof name, "%s %u", what, index);
    reply(body, 5, name, at_us);
}

// Stores the block's data; the tail block holds only 32 image bytes, the rest must be zero.
static bool store_block(uint16_t index, const uint8_t* data)
{
    uint32_t offset = uint32_t(index) * DEVICE_BLOCK_SIZE;
    uint16_t count = index == DEVICE_LAST_BLOCK ? DEVICE_TAIL_SIZE : DEVICE_BLOCK_SIZE;
    bool changed = memcmp(&received_image[offset], data, count) != 0;
    memcpy(&received_image[offset], data, count);
    if (index == DEVICE_LAST_BLOCK) {
        bool zero = true;
        for (uint16_t i = DEVICE_TAIL_SIZE; i < DEVICE_BLOCK_SIZE; ++i)
            zero = zero && data[i] == 0;
        tail_padding_zero = zero;
    }
    return changed;
}

// BlockWrite: 54 51 02, index (u16 LE), 256 data bytes.
static void on_block_write(const uint8_t* body, uint16_t length, int64_t now_us, int64_t at_us)
{
    if (length != 5 + DEVICE_BLOCK_SIZE) {
        report_event(now_us, "rx block write of bad length %u (no reply)", length);
        return;
    }
    uint16_t index = uint16_t(body[3] | (body[4] << 8));
    if (index > DEVICE_LAST_BLOCK) {
        report_event(now_us, "rx block %u out of range (no reply)", index);
        return;
    }
    const std::vector<long>& pulls = sim_options.unplug_at_blocks;
    if (block_last_seen_us[index] < 0 && std::count(pulls.begin(), pulls.end(), long(index)) &&
        !std::count(unplugged_at.begin(), unplugged_at.end(), long(index))) {
        // The adapter vanishes as the block arrives: the device never sees it.
        unplugged_at.push_back(index);
        unplug_pending = true;
        report_event(now_us, "unplugged at block %u", index);
        return;
    }
    ++block_writes;
    int64_t previous = block_last_seen_us[index];
    bool changed = store_block(index, body + 5);
    block_last_seen_us[index] = now_us;
    if (previous < 0) {
        ++blocks_new;
        report_event(now_us, "rx block %u", index);
        if (sim_options.progress && (blocks_new % 100 == 0 || blocks_new == BLOCK_COUNT)) {
            printf("PROGRESS %u/%u\n", blocks_new, unsigned(BLOCK_COUNT));
            fflush(stdout);
        }
    } else {
        ++retransmissions;
        report_event(now_us, "rx block %u retransmission interval=%.0fms%s", index,
                     double(now_us - previous) / 1000.0, changed ? ", data changed" : "");
    }
    if (long(index) > highest_block)
        highest_block = index;

    if (sim_options.silent_from_block >= 0 && index >= sim_options.silent_from_block && !device_silent) {
        device_silent = true;
        report_event(now_us, "silent from now on (block %u)", index);
    }
    if (device_silent) {
        report_event(now_us, "silent: no ack %u", index);
    } else if (random_chance(sim_options.drop_acks)) {
        report_event(now_us, "drop ack %u", index);
    } else {
        send_block_ack(index, "ack", at_us);
        if (random_chance(sim_options.duplicate_acks))
            send_block_ack(index, "duplicate ack", at_us);
    }
    if (sim_options.stop_reading_at_block == long(index) && !reading_stopped && !device_silent) {
        reading_stopped = true;
        report_event(now_us, "stopped reading at block %u", index);
        for (uint16_t k = 1; k <= BLIND_ACKS && index + k <= DEVICE_LAST_BLOCK; ++k)
            send_block_ack(uint16_t(index + k), "unread ack", at_us + k * BLIND_ACK_GAP_US);
    }
    if (sim_options.finish_after_block == long(index) && !early_finish_sent) {
        early_finish_sent = true;
        send_finish_reply("early finish reply", at_us);
    }
    if (sim_options.unsolicited && sim_options.unsolicited_after_block == long(index) && !unsolicited_sent) {
        unsolicited_sent = true;
        send_identify_reply(sim_options.unsolicited_tag, "unsolicited identify reply", at_us);
    }
}

// Dispatches a CRC-correct request by its bytes.
static void on_message(const uint8_t* body, uint16_t length, int64_t now_us, int64_t at_us)
{
    if (length == 4 && !memcmp(body, "IDID", 4)) {
        report_event(now_us, "rx identify request");
        send_identify_reply(sim_options.tag, "identify reply", at_us);
        return;
    }
    if (length >= 3 && body[0] == 0x54 && body[1] == 0x51) {
        if (body[2] == 0x01 && length == 3) {
            report_event(now_us, "rx version request");
            send_version_reply(at_us);
            return;
        }
        if (body[2] == 0x02) {
            on_block_write(body, length, now_us, at_us);
            return;
        }
        if (body[2] == 0x03 && length == 7) {
            uint32_t image_length = uint32_t(body[3]) | uint32_t(body[4]) << 8 | uint32_t(body[5]) << 16 |
                                    uint32_t(body[6]) << 24;
            ++finish_requests;
            finish_length_wrong = finish_length_wrong || image_length != DEVICE_IMAGE_SIZE;
            last_finish_length = image_length;
            report_event(now_us, "rx finish length=%u", image_length);
            send_finish_reply("finish reply", at_us);
            return;
        }
        if (body[2] == 0x04 && length == 4 && body[3] == 0xAA) {
            report_event(now_us, "rx final command");
            if (!final_received) {
                final_received = true;
                final_time_us = now_us;
            }
            if (sim_options.restart_silence_ms >= 0 && !restarting) {
                restarting = true;
                restart_until_us = now_us + int64_t(sim_options.restart_silence_ms) * 1000;
                report_event(now_us, "restarting: silent for %d ms", sim_options.restart_silence_ms);
            }
            return;
        }
    }
    report_event(now_us, "rx unknown message %s (%u bytes, no reply)", hex_of(body, length).c_str(), length);
}

// False while the device is not there to answer: before its arrival, while it restarts.
static bool device_present(int64_t now_us)
{
    if (!arrived) {
        if (now_us < int64_t(sim_options.arrive_after_ms) * 1000)
            return false;
        arrived = true;
        if (sim_options.arrive_after_ms > 0)
            report_event(now_us, "arrived");
    }
    if (restarting && restart_until_us >= 0) {
        if (now_us < restart_until_us)
            return false;
        restart_until_us = -1;
        device_silent = false;
        sim_options.version_major = sim_options.new_version_major;
        sim_options.version_minor = sim_options.new_version_minor;
        sim_options.version_fields = true;
        report_event(now_us, "restarted with version %u.%u", sim_options.version_major, sim_options.version_minor);
    }
    return true;
}

void device_on_frame(const DeframeResult& frame, int64_t now_us, int64_t wire_end_us)
{
    if (unplug_pending)
        return;  // the line is already gone; what followed never reached the device
    if (frame.kind != DEFRAME_NOTHING && !device_present(now_us)) {
        report_event(now_us, "rx while absent (no reply)");
        return;
    }
    switch (frame.kind) {
    case DEFRAME_MESSAGE:
        on_message(frame.body, frame.length, now_us, reply_time(now_us, wire_end_us));
        break;
    case DEFRAME_BAD_CRC:
        ++bad_frames;
        report_event(now_us, "rx bad CRC (%u bytes, no reply)", frame.length);
        break;
    case DEFRAME_GARBAGE:
        ++bad_frames;
        report_event(now_us, "rx garbage (%u bytes)", frame.length);
        break;
    case DEFRAME_OVERFLOW:
        ++bad_frames;
        report_event(now_us, "rx garbage (over %u bytes without a flag)", frame.length);
        break;
    case DEFRAME_NOTHING:
        break;
    }
}

// First differing offset among the received bytes, or -1.
static long first_difference()
{
    for (uint16_t index = 0; index < BLOCK_COUNT; ++index) {
        if (block_last_seen_us[index] < 0)
            continue;
        uint32_t offset = uint32_t(index) * DEVICE_BLOCK_SIZE;
        uint16_t count = index == DEVICE_LAST_BLOCK ? DEVICE_TAIL_SIZE : DEVICE_BLOCK_SIZE;
        for (uint16_t i = 0; i < count; ++i)
            if (received_image[offset + i] != expected_image[offset + i])
                return long(offset + i);
    }
    return -1;
}

void device_write_summary()
{
    long first_missing = -1;
    for (uint16_t index = 0; index < BLOCK_COUNT && first_missing < 0; ++index)
        if (block_last_seen_us[index] < 0)
            first_missing = index;
    report_summary("summary blocks_received=%u highest_block=%ld retransmissions=%lu bad_frames=%lu "
                   "finish_requests=%lu block_writes=%lu",
                   blocks_new, highest_block, retransmissions, bad_frames, finish_requests, block_writes);
    if (finish_requests)
        report_summary("finish length: %u%s", last_finish_length,
                       finish_length_wrong ? " (a wrong length was seen)" : "");
    if (final_received)
        report_summary("final command: yes (at %.1f ms)", double(final_time_us) / 1000.0);
    else
        report_summary("final command: no");
    long difference = first_difference();
    if (difference >= 0)
        report_summary("image: differs at offset %ld", difference);
    else if (first_missing >= 0)
        report_summary("image: incomplete (%u of %u blocks, first missing %ld)", blocks_new, unsigned(BLOCK_COUNT),
                       first_missing);
    else if (!tail_padding_zero)
        report_summary("image: differs in the tail padding");
    else
        report_summary("image: identical");
}
