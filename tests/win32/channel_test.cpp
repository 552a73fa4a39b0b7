// The serial channel on a real COM port under Wine; the Linux end of the port is tq_pty's.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "control_line.h"
#include "serial_channel.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Batch {
    Bytes bytes;
    DWORD at;  // GetTickCount() of the call
};
std::vector<Batch> batches;
std::vector<Batch> second_batches;
size_t expected_total = 0;

// Records every batch the channel hands over.
void record(const uint8_t* bytes, uint16_t count)
{
    batches.push_back({Bytes(bytes, bytes + count), GetTickCount()});
}

// A second handler, to see which one a slot holds.
void record_second(const uint8_t* bytes, uint16_t count)
{
    second_batches.push_back({Bytes(bytes, bytes + count), GetTickCount()});
}

// All recorded bytes in order.
Bytes received()
{
    Bytes all;
    for (const Batch& b : batches)
        all.insert(all.end(), b.bytes.begin(), b.bytes.end());
    return all;
}

// True once expected_total bytes have come through record().
bool got_expected()
{
    return received().size() >= expected_total;
}

// Opens channel 0 the way the program does.
bool open_data_channel(ReceiveHandler handler = record, uint8_t stop_bits = 1, uint32_t baud = 115200)
{
    return channel_open(0, DATA_PORT, baud, stop_bits, 8192, 1024, handler);
}

struct ChannelTest : ::testing::Test {
    void SetUp() override
    {
        batches.clear();
        second_batches.clear();
        ASSERT_TRUE(control_open()) << "run under tq_pty (ctest does)";
    }
    void TearDown() override
    {
        channel_close(0);
        control_close();
    }
};

const char LINE_115200_8N1[] = "termios baud=115200 data=8 parity=none stop=1 rtscts=0 ixon=0 ixoff=0";

// The pty starts at 9600, two stop bits, RTS/CTS and XON/XOFF: all of that must change. (A pty
// always reports 8 data bits and no parity, so those two fields cannot show a fault here.)
TEST_F(ChannelTest, OpeningSetsTheLineTo115200_8N1WithoutFlowControl)
{
    ASSERT_TRUE(open_data_channel());
    EXPECT_EQ(control_ask("termios"), LINE_115200_8N1);
}

TEST_F(ChannelTest, StopBitsAndBaudFollowTheRequest)
{
    ASSERT_TRUE(open_data_channel(record, 2));
    EXPECT_EQ(control_ask("termios"),
              "termios baud=115200 data=8 parity=none stop=2 rtscts=0 ixon=0 ixoff=0");
    channel_close(0);
    ASSERT_TRUE(open_data_channel(record, 0));
    EXPECT_EQ(control_ask("termios"), LINE_115200_8N1);
    channel_close(0);
    ASSERT_TRUE(open_data_channel(record, 3, 57600));
    EXPECT_EQ(control_ask("termios"),
              "termios baud=57600 data=8 parity=none stop=2 rtscts=0 ixon=0 ixoff=0");
}

TEST_F(ChannelTest, RefusedArgumentsLeaveTheSlotClosed)
{
    EXPECT_FALSE(channel_open(1, DATA_PORT, 115200, 1, 8192, 1024, record));
    EXPECT_FALSE(channel_open(0, 0, 115200, 1, 8192, 1024, record));
    EXPECT_FALSE(channel_open(0, DATA_PORT, 115200, 1, 0, 1024, record));
    EXPECT_FALSE(channel_open(0, DATA_PORT, 115200, 1, 8192, 0, record));
    EXPECT_FALSE(channel_open(0, DATA_PORT, 115200, 1, 8192, 1024, nullptr));
    // None of them touched the line or opened the slot.
    EXPECT_EQ(control_ask("termios"),
              "termios baud=9600 data=8 parity=none stop=2 rtscts=1 ixon=1 ixoff=1");
    const uint8_t probe[] = {1, 2, 3};
    EXPECT_FALSE(channel_write(0, probe, sizeof probe));
    EXPECT_TRUE(control_take(100).empty());
    EXPECT_TRUE(open_data_channel());
}

TEST_F(ChannelTest, SecondOpenIsRefusedAndTheFirstKeepsWorking)
{
    ASSERT_TRUE(open_data_channel(record));
    EXPECT_FALSE(open_data_channel(record_second, 2));
    EXPECT_EQ(control_ask("termios"), LINE_115200_8N1);
    ASSERT_TRUE(control_send({0x10, 0x20, 0x30}));
    expected_total = 3;
    EXPECT_TRUE(pump_until(got_expected, 1000));
    EXPECT_EQ(received(), (Bytes{0x10, 0x20, 0x30}));
    EXPECT_TRUE(second_batches.empty());
}

TEST_F(ChannelTest, AbsentPortFailsToOpen)
{
    EXPECT_FALSE(channel_open(0, ABSENT_PORT, 115200, 1, 8192, 1024, record));
    const uint8_t probe[] = {1};
    EXPECT_FALSE(channel_write(0, probe, 1));
    EXPECT_TRUE(open_data_channel());
}

// Under Wine a port that another handle holds opens again (Windows refuses it), so the rig
// links this port to a directory: present, but CreateFile fails with access denied.
TEST_F(ChannelTest, PresentButRefusingPortFailsToOpen)
{
    EXPECT_FALSE(channel_open(0, REFUSING_PORT, 115200, 1, 8192, 1024, record));
    const uint8_t probe[] = {1};
    EXPECT_FALSE(channel_write(0, probe, 1));
    EXPECT_TRUE(open_data_channel());
}

TEST_F(ChannelTest, BytesReachTheHandlerPromptlyAndInOrderAcrossBatches)
{
    ASSERT_TRUE(open_data_channel());
    pump_messages(120);  // settle into the poll rhythm
    Bytes first = {0x7E, 0x01, 0x65, 0x0A, 0x0D, 0x11, 0x13, 0x00, 0xFF, 0x7E};
    DWORD sent = GetTickCount();
    ASSERT_TRUE(control_send(first));
    expected_total = first.size();
    ASSERT_TRUE(pump_until(got_expected, 1000));
    // Two polls are 100 ms; the rest is slack for a loaded machine.
    EXPECT_LE(batches.front().at - sent, 250u);

    Bytes second;
    for (int i = 0; i < 300; i++)
        second.push_back(static_cast<uint8_t>(i * 7));
    ASSERT_TRUE(control_send(second));
    expected_total += second.size();
    ASSERT_TRUE(pump_until(got_expected, 1000));

    Bytes all = first;
    all.insert(all.end(), second.begin(), second.end());
    EXPECT_EQ(received(), all);
    for (const Batch& b : batches)
        EXPECT_FALSE(b.bytes.empty());
}

TEST_F(ChannelTest, BytesPendingBeforeOpeningAreDiscarded)
{
    ASSERT_TRUE(control_send({0x55, 0x66, 0x77}));
    Sleep(100);  // they now wait in the line's input queue
    ASSERT_TRUE(open_data_channel());
    pump_messages(300);
    EXPECT_TRUE(batches.empty());
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
    ASSERT_TRUE(control_send({1, 2, 3}));
    pump_messages(300);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].bytes, (Bytes{1, 2, 3}));
    ASSERT_TRUE(control_send({4, 5}));
    pump_messages(300);
    EXPECT_EQ(batches.size(), 1u);
    const uint8_t probe[] = {9};
    EXPECT_FALSE(channel_write(0, probe, 1));
}

TEST_F(ChannelTest, HandlerMayCloseAndReopenDuringItsCall)
{
    ASSERT_TRUE(open_data_channel(close_and_reopen));
    ASSERT_TRUE(control_send({1, 2, 3}));
    pump_messages(300);
    ASSERT_EQ(batches.size(), 1u);
    // The reopened slot is intact: it reads and writes with its own handler.
    ASSERT_TRUE(control_send({4, 5}));
    pump_messages(300);
    EXPECT_EQ(batches.size(), 1u);
    ASSERT_EQ(second_batches.size(), 1u);
    EXPECT_EQ(second_batches[0].bytes, (Bytes{4, 5}));
    const uint8_t reply[] = {0x7E, 0x42, 0x7E};
    EXPECT_TRUE(channel_write(0, reply, sizeof reply));
    EXPECT_EQ(control_take(100), Bytes(reply, reply + sizeof reply));
}

int nesting = 0;
int deepest = 0;

// Runs a nested message loop on the first call, as a message box does.
void nest_once(const uint8_t* bytes, uint16_t count)
{
    record(bytes, count);
    nesting++;
    if (nesting > deepest)
        deepest = nesting;
    if (batches.size() == 1) {
        EXPECT_TRUE(control_send({0x22}));
        pump_messages(300);
    }
    nesting--;
}

TEST_F(ChannelTest, PollsKeepComingInsideANestedMessageLoop)
{
    ASSERT_TRUE(open_data_channel(nest_once));
    ASSERT_TRUE(control_send({0x11}));
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
    EXPECT_EQ(control_take(150), frame);
}

TEST_F(ChannelTest, WritingOnAClosedChannelSendsNothing)
{
    const uint8_t frame[] = {0x7E, 1, 2, 0x7E};
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    ASSERT_TRUE(open_data_channel());
    EXPECT_FALSE(channel_write(1, frame, sizeof frame));
    channel_close(1);  // another channel number leaves channel 0 open
    EXPECT_TRUE(channel_write(0, frame, sizeof frame));
    EXPECT_EQ(control_take(100), Bytes(frame, frame + sizeof frame));
    channel_close(0);
    channel_close(0);
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    EXPECT_TRUE(control_take(100).empty());
    EXPECT_TRUE(open_data_channel());
}

// True when got is the flood pattern 0,1,..,250,0,.. with nothing but gaps.
bool flood_with_gaps_only(const Bytes& got, size_t sent)
{
    size_t next = 0;
    for (uint8_t b : got) {
        while (next < sent && static_cast<uint8_t>(next % 251) != b)
            next++;
        if (next == sent)
            return false;
        next++;
    }
    return true;
}

TEST_F(ChannelTest, AFloodBetweenPollsCostsOnlyTheDroppedBytes)
{
    ASSERT_TRUE(open_data_channel());
    ASSERT_EQ(control_ask("flood 30000"), "ok");
    Sleep(400);  // no polls: the line piles up far more than one read takes
    pump_messages(1500);
    size_t largest = 0;
    for (const Batch& b : batches)
        largest = b.bytes.size() > largest ? b.bytes.size() : largest;
    EXPECT_LE(largest, 8192u);
    Bytes got = received();
    EXPECT_TRUE(flood_with_gaps_only(got, 30000));
    std::printf("flood: %zu of 30000 bytes in %zu batches, largest %zu\n", got.size(), batches.size(),
                largest);

    // The channel carries on normally afterwards.
    batches.clear();
    ASSERT_TRUE(control_send({0xAB, 0xCD}));
    expected_total = 2;
    EXPECT_TRUE(pump_until(got_expected, 1000));
    EXPECT_EQ(received(), (Bytes{0xAB, 0xCD}));
}

// CPU time this process has used, in milliseconds.
unsigned long long process_cpu_ms()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
    };
    return ms(kernel) + ms(user);
}

// A hung-up line (a pulled adapter) delivers nothing, refuses writes and costs no more than
// idling: the dead handle is not read over and over.
TEST_F(ChannelTest, ALostPortIsAbsorbedQuietlyAndCheaply)
{
    ASSERT_TRUE(open_data_channel());
    ASSERT_EQ(control_ask("hangup"), "ok");
    pump_messages(200);
    const uint8_t frame[] = {0x7E, 1, 0x7E};
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    unsigned long long before = process_cpu_ms();
    pump_messages(2000);
    unsigned long long used = process_cpu_ms() - before;
    EXPECT_LE(used, 300u) << "CPU ms over 2 s of outage";
    EXPECT_TRUE(batches.empty());
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    channel_close(0);
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
}

// The adapter comes back under the same COM number: the same open channel carries bytes both
// ways again, with the line set up as at opening, and no new channel_open.
TEST_F(ChannelTest, APulledPortIsReopenedWhenItComesBack)
{
    ASSERT_TRUE(open_data_channel());
    ASSERT_EQ(control_ask("hangup"), "ok");
    pump_messages(700);  // the loss is noticed and a reopen fails while nothing is there
    ASSERT_EQ(control_ask("plug"), "ok");
    const uint8_t frame[] = {0x7E, 0x11, 0x22, 0x7E};
    DWORD plugged = GetTickCount();
    while (!channel_write(0, frame, sizeof frame) && GetTickCount() - plugged < 3000)
        pump_messages(20);
    DWORD back = GetTickCount() - plugged;
    EXPECT_LE(back, 1500u) << "about every 500 ms a reopen is tried";
    std::printf("replug: writes go through %lu ms after the port came back\n", back);
    EXPECT_EQ(control_take(100), Bytes(frame, frame + sizeof frame));
    EXPECT_EQ(control_ask("termios"), LINE_115200_8N1);
    ASSERT_TRUE(control_send({0x31, 0x32}));
    expected_total = 2;
    EXPECT_TRUE(pump_until(got_expected, 1000));
    EXPECT_EQ(received(), (Bytes{0x31, 0x32}));
}

// Closing while the port is lost stops the reopening: a returning port stays free.
TEST_F(ChannelTest, ClosingALostChannelStopsTheReopening)
{
    ASSERT_TRUE(open_data_channel());
    ASSERT_EQ(control_ask("hangup"), "ok");
    pump_messages(200);
    channel_close(0);
    ASSERT_EQ(control_ask("plug"), "ok");
    pump_messages(800);
    const uint8_t frame[] = {0x7E, 1, 0x7E};
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    EXPECT_TRUE(control_take(100).empty());
    ASSERT_TRUE(open_data_channel());
    EXPECT_TRUE(channel_write(0, frame, sizeof frame));
}

}  // namespace
