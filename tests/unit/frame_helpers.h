// Feeding byte sequences to the frame receiver and collecting what comes out.
#pragma once
#include <cstdint>
#include <vector>

#include "frame_codec.h"

using Bytes = std::vector<uint8_t>;

// Every body the receiver yields for these bytes, in order.
std::vector<Bytes> feed(const Bytes& wire);
// Body + CRC low byte first.
Bytes seal_bytes(const Bytes& body);
// A flag, the bytes as they stand (no escaping), a flag.
Bytes raw_frame(const Bytes& inner);
// The encoder's frame of a body sealed with its CRC.
Bytes frame_of(const Bytes& body);

struct ReceiverTest : ::testing::Test {
    void SetUp() override
    {
        build_crc_table();
        reset_receiver();
    }
};
