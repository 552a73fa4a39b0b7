// The serial-channel cases that read the same on both platforms, with their recording helpers.
#include "channel_cases.h"

#include <algorithm>

std::vector<Batch> batches;
std::vector<Batch> second_batches;
size_t expected_total = 0;

void record(const uint8_t* bytes, uint16_t count)
{
    batches.push_back({Bytes(bytes, bytes + count), now_ms()});
}

void record_second(const uint8_t* bytes, uint16_t count)
{
    second_batches.push_back({Bytes(bytes, bytes + count), now_ms()});
}

Bytes received()
{
    Bytes all;
    for (const Batch& b : batches)
        all.insert(all.end(), b.bytes.begin(), b.bytes.end());
    return all;
}

bool got_expected()
{
    return received().size() >= expected_total;
}

void recording_clear()
{
    batches.clear();
    second_batches.clear();
    expected_total = 0;
}

namespace {

TEST_F(ChannelTest, BytesReachTheHandlerPromptlyAndInOrderAcrossBatches)
{
    ASSERT_TRUE(open_data_channel());
    pump_messages(120);  // settle into the poll rhythm
    Bytes first = {0x7E, 0x01, 0x65, 0x0A, 0x0D, 0x11, 0x13, 0x00, 0xFF, 0x7E};
    uint64_t sent = now_ms();
    ASSERT_TRUE(line_send(first));
    expected_total = first.size();
    ASSERT_TRUE(pump_until(got_expected, 1000));
    // Two polls are 100 ms; the rest is slack for a loaded machine.
    EXPECT_LE(batches.front().at - sent, 250u);

    Bytes second;
    for (int i = 0; i < 300; i++)
        second.push_back(static_cast<uint8_t>(i * 7));
    ASSERT_TRUE(line_send(second));
    expected_total += second.size();
    ASSERT_TRUE(pump_until(got_expected, 1000));

    Bytes all = first;
    all.insert(all.end(), second.begin(), second.end());
    EXPECT_EQ(received(), all);
    for (const Batch& b : batches)
        EXPECT_FALSE(b.bytes.empty());
}

TEST_F(ChannelTest, NoBytesMeansNoCall)
{
    ASSERT_TRUE(open_data_channel());
    pump_messages(400);
    EXPECT_TRUE(batches.empty());
}

// Closes the channel and opens it again with record_second, all inside the poll's call.
void close_and_reopen(const uint8_t* bytes, uint16_t count)
{
    record(bytes, count);
    channel_close(0);
    EXPECT_TRUE(open_data_channel(record_second));
}

// Closes the channel from inside the poll's call.
void close_inside(const uint8_t* bytes, uint16_t count)
{
    record(bytes, count);
    channel_close(0);
}

TEST_F(ChannelTest, HandlerMayCloseTheChannelDuringItsCall)
{
    ASSERT_TRUE(open_data_channel(close_inside));
    ASSERT_TRUE(line_send({1, 2, 3}));
    pump_messages(300);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].bytes, (Bytes{1, 2, 3}));
    ASSERT_TRUE(line_send({4, 5}));
    pump_messages(300);
    EXPECT_EQ(batches.size(), 1u);
    const uint8_t probe[] = {9};
    EXPECT_FALSE(channel_write(0, probe, 1));
}

TEST_F(ChannelTest, HandlerMayCloseAndReopenDuringItsCall)
{
    ASSERT_TRUE(open_data_channel(close_and_reopen));
    ASSERT_TRUE(line_send({1, 2, 3}));
    pump_messages(300);
    ASSERT_EQ(batches.size(), 1u);
    // The reopened slot is intact: it reads and writes with its own handler.
    ASSERT_TRUE(line_send({4, 5}));
    pump_messages(300);
    EXPECT_EQ(batches.size(), 1u);
    ASSERT_EQ(second_batches.size(), 1u);
    EXPECT_EQ(second_batches[0].bytes, (Bytes{4, 5}));
    const uint8_t reply[] = {0x7E, 0x42, 0x7E};
    EXPECT_TRUE(channel_write(0, reply, sizeof reply));
    EXPECT_EQ(line_take(100), Bytes(reply, reply + sizeof reply));
}

int nesting = 0;
int deepest = 0;

// Runs a nested loop on the first call, as a message box does.
void nest_once(const uint8_t* bytes, uint16_t count)
{
    record(bytes, count);
    nesting++;
    if (nesting > deepest)
        deepest = nesting;
    if (batches.size() == 1) {
        EXPECT_TRUE(line_send({0x22}));
        pump_messages(300);
    }
    nesting--;
}

TEST_F(ChannelTest, PollsKeepComingInsideANestedLoop)
{
    ASSERT_TRUE(open_data_channel(nest_once));
    ASSERT_TRUE(line_send({0x11}));
    pump_messages(600);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[1].bytes, Bytes{0x22});
    EXPECT_EQ(deepest, 2);
}

TEST_F(ChannelTest, AFrameIsWrittenWholeInOneCall)
{
    ASSERT_TRUE(open_data_channel());
    Bytes frame;
    for (int i = 0; i < 528; i++)
        frame.push_back(static_cast<uint8_t>(i));
    frame.front() = frame.back() = 0x7E;
    EXPECT_TRUE(channel_write(0, frame.data(), static_cast<uint16_t>(frame.size())));
    EXPECT_EQ(line_take(150), frame);
}

TEST_F(ChannelTest, WritingOnAClosedChannelSendsNothing)
{
    const uint8_t frame[] = {0x7E, 1, 2, 0x7E};
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    ASSERT_TRUE(open_data_channel());
    EXPECT_FALSE(channel_write(1, frame, sizeof frame));
    channel_close(1);  // another channel number leaves channel 0 open
    EXPECT_TRUE(channel_write(0, frame, sizeof frame));
    EXPECT_EQ(line_take(100), Bytes(frame, frame + sizeof frame));
    channel_close(0);
    channel_close(0);
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    EXPECT_TRUE(line_take(100).empty());
    EXPECT_TRUE(open_data_channel());
}

// A device that stops taking data (a hung ttyACM device, an adapter whose driver stopped
// draining) fills the line. A write then gives up within about a second instead of holding
// the one thread forever, the port is let go as a lost one, and once the line drains again it
// is taken back and carries frames as before.
TEST_F(ChannelTest, AWriteIntoAStalledLineFailsWithinASecondAndThePortComesBack)
{
    ASSERT_TRUE(open_data_channel());
    ASSERT_TRUE(line_stall(true));
    Bytes frame(528, 0x55);
    frame.front() = frame.back() = 0x7E;
    bool failed = false;
    uint64_t longest = 0;
    unsigned written = 0;
    // 400 frames are 211 KB, far more than any driver's queue holds.
    for (; written < 400 && !failed; ++written) {
        uint64_t began = now_ms();
        failed = !channel_write(0, frame.data(), static_cast<uint16_t>(frame.size()));
        longest = std::max(longest, now_ms() - began);
    }
    EXPECT_TRUE(failed) << written << " frames went into a line nobody reads";
    EXPECT_LE(longest, 1500u);
    // The port is let go: the next write fails at once.
    uint64_t began = now_ms();
    EXPECT_FALSE(channel_write(0, frame.data(), static_cast<uint16_t>(frame.size())));
    EXPECT_LE(now_ms() - began, 100u);

    ASSERT_TRUE(line_stall(false));
    line_take(300);
    pump_messages(1500);   // reopened within about 500 ms
    const uint8_t reply[] = {0x7E, 0x42, 0x7E};
    EXPECT_TRUE(channel_write(0, reply, sizeof reply));
    Bytes got = line_take(300);
    ASSERT_GE(got.size(), sizeof reply);
    EXPECT_EQ(Bytes(got.end() - 3, got.end()), Bytes(reply, reply + sizeof reply));
    ASSERT_TRUE(line_send({7, 8}));
    expected_total = 2;
    EXPECT_TRUE(pump_until(got_expected, 1000));
    EXPECT_EQ(received(), (Bytes{7, 8}));
}

}  // namespace
