// CRC-16/XMODEM, the frame encoder and the byte-at-a-time frame receiver.
#include "frame_codec.h"

uint16_t CrcTable[256];
FrameReceiver frame_receiver;

// Table for polynomial 0x1021, no reflection.
void build_crc_table()
{
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t v = uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 0x8000) ? uint16_t((v << 1) ^ 0x1021) : uint16_t(v << 1);
        CrcTable[i] = v;
    }
}

// Initial value 0, no final XOR.
uint16_t frame_crc(const uint8_t* bytes, uint16_t length)
{
    uint16_t crc = 0;
    for (uint16_t i = 0; i < length; ++i)
        crc = uint16_t((crc << 8) ^ CrcTable[((crc >> 8) ^ bytes[i]) & 0xFF]);
    return crc;
}

// Escapes flag and escape bytes by prefixing 0x65; the byte itself is unchanged.
Frame encode_frame(const uint8_t* sealed, uint16_t length)
{
    Frame frame;
    uint16_t at = 0;
    frame.bytes[at++] = FRAME_FLAG;
    // Longer input cannot occur (messages are at most 263 bytes); never run past the buffer.
    if (length > 263)
        length = 263;
    for (uint16_t i = 0; i < length; ++i) {
        if (sealed[i] == FRAME_FLAG || sealed[i] == FRAME_ESCAPE)
            frame.bytes[at++] = FRAME_ESCAPE;
        frame.bytes[at++] = sealed[i];
    }
    frame.bytes[at++] = FRAME_FLAG;
    frame.length = at;
    return frame;
}

void reset_receiver()
{
    frame_receiver.length = 0;
    frame_receiver.escape_pending = 0;
}

// Appends one byte; past 262 bytes the collection is dropped and starts over.
static void store_byte(uint8_t b)
{
    FrameReceiver& r = frame_receiver;
    r.buffer[r.length++] = b;
    if (r.length > MAX_COLLECTED)
        r.length = 0;
}

// Judges a collection at a flag: CRC-correct and at least 5 bytes, or nothing.
static ReceivedMessage close_frame()
{
    FrameReceiver& r = frame_receiver;
    ReceivedMessage none = {nullptr, 0};
    uint16_t collected = r.length;
    if (collected == 0)
        return none;
    r.length = 0;
    if (collected < 3)
        return none;
    uint16_t body_length = uint16_t(collected - 2);
    uint16_t carried = uint16_t(r.buffer[body_length] | (r.buffer[body_length + 1] << 8));
    if (frame_crc(r.buffer, body_length) != carried || collected < 5)
        return none;
    return ReceivedMessage{r.buffer, body_length};
}

ReceivedMessage receive_byte(uint8_t b)
{
    FrameReceiver& r = frame_receiver;
    if (r.escape_pending) {
        r.escape_pending = 0;
        store_byte(b);
    } else if (b == FRAME_FLAG) {
        return close_frame();
    } else if (b == FRAME_ESCAPE) {
        r.escape_pending = 1;
    } else {
        store_byte(b);
    }
    return ReceivedMessage{nullptr, 0};
}
