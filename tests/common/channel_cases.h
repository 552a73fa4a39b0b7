// The serial-channel cases both platforms run, and what they record from the channel. Each
// platform's test file supplies the line, the clock, the loop and the fixture's set-up.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "serial_channel.h"

using Bytes = std::vector<uint8_t>;

struct Batch {
    Bytes bytes;
    uint64_t at;  // now_ms() of the call
};
extern std::vector<Batch> batches;
extern std::vector<Batch> second_batches;
extern size_t expected_total;

// Records every batch the channel hands over.
void record(const uint8_t* bytes, uint16_t count);
// A second handler, to see which one a slot holds.
void record_second(const uint8_t* bytes, uint16_t count);
// All recorded bytes in order.
Bytes received();
// True once expected_total bytes have come through record().
bool got_expected();
// Empties the records, for a fresh test.
void recording_clear();

// Per platform: a millisecond clock.
uint64_t now_ms();
// Per platform: opens channel 0 on the test's data port the way the program does.
bool open_data_channel(ReceiveHandler handler = record, uint8_t stop_bits = 1, uint32_t baud = 115200);
// Per platform: bytes the far end of the data line sends.
bool line_send(const Bytes& bytes);
// Per platform: everything the far end has received, once the line has been quiet for quiet_ms.
Bytes line_take(unsigned quiet_ms);
// Per platform: the far end stops reading the data line (true), so that what the channel
// writes fills the line, or reads it again (false).
bool line_stall(bool stalled);
// Per platform: runs the thread's loop (the channel's timer included) for about ms milliseconds.
void pump_messages(unsigned ms);
// Per platform: runs the loop until done() or ms milliseconds have passed; true if done() came true.
bool pump_until(bool (*done)(), unsigned ms);

// SetUp and TearDown are the platform's: the line under test, and recording_clear().
struct ChannelTest : ::testing::Test {
    void SetUp() override;
    void TearDown() override;
};
