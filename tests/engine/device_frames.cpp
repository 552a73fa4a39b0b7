// Reply frames from literal bodies and an independent reading of the updater's frames.
#include "device_frames.h"

#include "frame_codec.h"
#include "update_engine.h"

const Bytes WIRE_IDENTIFY = {0x7E, 0x49, 0x44, 0x49, 0x44, 0x92, 0xE3, 0x7E};
const Bytes WIRE_VERSION_REQUEST = {0x7E, 0x54, 0x51, 0x01, 0xA1, 0xAF, 0x7E};
const Bytes WIRE_FINISH_REQUEST = {0x7E, 0x54, 0x51, 0x03, 0x20, 0xCE, 0x04, 0x00, 0xCB, 0x36, 0x7E};
const Bytes WIRE_FINAL_COMMAND = {0x7E, 0x54, 0x51, 0x04, 0xAA, 0x50, 0x0E, 0x7E};

Bytes device_frame(const Bytes& body)
{
    Bytes sealed = body;
    uint16_t crc = frame_crc(body.data(), uint16_t(body.size()));
    sealed.push_back(uint8_t(crc & 0xFF));
    sealed.push_back(uint8_t(crc >> 8));
    Frame f = encode_frame(sealed.data(), uint16_t(sealed.size()));
    return Bytes(f.bytes, f.bytes + f.length);
}

Bytes ack_frame(unsigned index)
{
    return device_frame({0x54, 0x51, 0x02, uint8_t(index & 0xFF), uint8_t(index >> 8)});
}

Bytes finish_reply_frame(uint8_t result)
{
    return device_frame({0x54, 0x51, 0x03, result});
}

Bytes joined(const std::vector<Bytes>& frames)
{
    Bytes out;
    for (const Bytes& f : frames)
        out.insert(out.end(), f.begin(), f.end());
    return out;
}

void deliver(const Bytes& read)
{
    on_receive(read.data(), uint16_t(read.size()));
}

Bytes sent_body(const Bytes& frame)
{
    if (frame.size() < 4 || frame.front() != 0x7E || frame.back() != 0x7E)
        return {};
    Bytes sealed;
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
        if (frame[i] == 0x7E)
            return {};   // an unescaped flag inside the frame
        if (frame[i] == 0x65)
            ++i;
        sealed.push_back(frame[i]);
    }
    if (sealed.size() < 3)
        return {};
    size_t n = sealed.size() - 2;
    uint16_t carried = uint16_t(sealed[n] | (sealed[n + 1] << 8));
    if (frame_crc(sealed.data(), uint16_t(n)) != carried)
        return {};
    sealed.resize(n);
    return sealed;
}

int sent_block_index(const Bytes& frame)
{
    Bytes body = sent_body(frame);
    if (body.size() != 261 || body[0] != 0x54 || body[1] != 0x51 || body[2] != 0x02)
        return -1;
    return body[3] | (body[4] << 8);
}
