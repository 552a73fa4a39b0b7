// The serial channel on a real COM port under Wine; the Linux end of the port is tq_pty's.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "channel_cases.h"
#include "control_line.h"

// What the shared cases need of this platform (see channel_cases.h).
uint64_t now_ms()
{
    return GetTickCount64();
}

bool open_data_channel(ReceiveHandler handler, uint8_t stop_bits, uint32_t baud)
{
    return channel_open(0, DATA_PORT, baud, stop_bits, 8192, 1024, handler);
}

bool line_send(const Bytes& bytes)
{
    return control_send(bytes);
}

Bytes line_take(unsigned quiet_ms)
{
    return control_take(quiet_ms);
}

bool line_stall(bool stalled)
{
    return control_ask(stalled ? "stall" : "drain") == "ok";
}

void ChannelTest::SetUp()
{
    recording_clear();
    ASSERT_TRUE(control_open()) << "run under tq_pty (ctest does)";
}

void ChannelTest::TearDown()
{
    channel_close(0);
    control_close();
}

namespace {

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

TEST_F(ChannelTest, BytesPendingBeforeOpeningAreDiscarded)
{
    ASSERT_TRUE(control_send({0x55, 0x66, 0x77}));
    Sleep(100);  // they now wait in the line's input queue
    ASSERT_TRUE(open_data_channel());
    pump_messages(300);
    EXPECT_TRUE(batches.empty());
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
