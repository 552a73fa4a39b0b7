// Flag/escape/CRC handling as on the line; unlike the updater's receiver, nothing is dropped silently.
#include "sim_deframer.h"

#include "frame_codec.h"

static uint8_t collect_buffer[DEVICE_COLLECT_LIMIT];
static uint16_t collect_length = 0;
static bool escape_pending = false;

void deframer_reset()
{
    collect_length = 0;
    escape_pending = false;
}

// Judges the collection at a flag and empties it.
static DeframeResult close_frame()
{
    uint16_t n = collect_length;
    collect_length = 0;
    if (n == 0)
        return {DEFRAME_NOTHING, nullptr, 0};
    if (n < 3)
        return {DEFRAME_GARBAGE, nullptr, n};
    uint16_t body = uint16_t(n - 2);
    uint16_t crc = frame_crc(collect_buffer, body);
    uint16_t sent = uint16_t(collect_buffer[n - 2] | (collect_buffer[n - 1] << 8));
    if (crc != sent)
        return {DEFRAME_BAD_CRC, nullptr, n};
    return {DEFRAME_MESSAGE, collect_buffer, body};
}

// Appends a content byte; an overlong collection is dropped and reported once.
static DeframeResult store(uint8_t b)
{
    if (collect_length == DEVICE_COLLECT_LIMIT) {
        collect_length = 0;
        collect_buffer[collect_length++] = b;
        return {DEFRAME_OVERFLOW, nullptr, DEVICE_COLLECT_LIMIT};
    }
    collect_buffer[collect_length++] = b;
    return {DEFRAME_NOTHING, nullptr, 0};
}

DeframeResult deframe_byte(uint8_t b)
{
    if (escape_pending) {
        escape_pending = false;
        return store(b);
    }
    if (b == FRAME_FLAG)
        return close_frame();
    if (b == FRAME_ESCAPE) {
        escape_pending = true;
        return {DEFRAME_NOTHING, nullptr, 0};
    }
    return store(b);
}
