// Kept out of line: inlined into the tests, GCC 12 warns falsely about vector copies.
#include <gtest/gtest.h>

#include <algorithm>

#include "frame_helpers.h"

// Every body the receiver yields for these bytes, in order.
std::vector<Bytes> feed(const Bytes& wire)
{
    std::vector<Bytes> out;
    for (uint8_t b : wire) {
        ReceivedMessage m = receive_byte(b);
        if (m.body)
            out.emplace_back(m.body, m.body + m.length);
    }
    return out;
}

// Body + CRC low byte first.
Bytes seal_bytes(const Bytes& body)
{
    Bytes s = body;
    uint16_t crc = frame_crc(body.data(), uint16_t(body.size()));
    s.push_back(uint8_t(crc & 0xFF));
    s.push_back(uint8_t(crc >> 8));
    return s;
}

// A flag, the bytes as they stand (no escaping), a flag.
Bytes raw_frame(const Bytes& inner)
{
    Bytes f(inner.size() + 2, 0x7E);
    std::copy(inner.begin(), inner.end(), f.begin() + 1);
    return f;
}

Bytes frame_of(const Bytes& body)
{
    Bytes s = seal_bytes(body);
    Frame f = encode_frame(s.data(), uint16_t(s.size()));
    return Bytes(f.bytes, f.bytes + f.length);
}

