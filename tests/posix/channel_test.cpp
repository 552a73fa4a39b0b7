// The termios channel against ptys in a private device directory: COM33 is ttyUSB0 there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <glib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "channel_cases.h"
#include "fake_devices.h"

namespace {

constexpr uint8_t DATA_PORT = 33;     // ttyUSB0
constexpr uint8_t ABSENT_PORT = 34;   // ttyUSB1, never made
constexpr uint8_t REFUSING_PORT = 35; // ttyUSB2, a directory

std::string dir;
FakePty line;

gboolean quit_loop(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

}  // namespace

// What the shared cases need of this platform (see channel_cases.h).
uint64_t now_ms()
{
    return static_cast<uint64_t>(g_get_monotonic_time() / 1000);
}

bool open_data_channel(ReceiveHandler handler, uint8_t stop_bits, uint32_t baud)
{
    return channel_open(0, DATA_PORT, baud, stop_bits, 8192, 1024, handler);
}

bool line_send(const Bytes& bytes)
{
    return pty_send(line, bytes);
}

Bytes line_take(unsigned quiet_ms)
{
    return pty_take(line, quiet_ms);
}

// Nothing reads the master but line_take: the line fills by itself.
bool line_stall(bool)
{
    return true;
}

void pump_messages(unsigned ms)
{
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_timeout_add(ms, quit_loop, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

bool pump_until(bool (*done)(), unsigned ms)
{
    for (unsigned t = 0; t < ms && !done(); t += 10)
        pump_messages(10);
    return done();
}

void ChannelTest::SetUp()
{
    recording_clear();
    dir = make_device_dir();
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(pty_open(&line));
    link_node(dir, "ttyUSB0", line.slave_path);
    ASSERT_EQ(mkdir((dir + "/ttyUSB2").c_str(), 0755), 0);
}

void ChannelTest::TearDown()
{
    channel_close(0);
    pty_close(&line);
    remove_device_dir(dir);
}

namespace {

// The slave's line settings, in the words tq_pty uses for the Wine channel tests.
std::string termios_of(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return "no termios";
    speed_t s = cfgetospeed(&t);
    const char* baud = s == B115200 ? "115200" : s == B57600 ? "57600" : s == B9600 ? "9600" : "other";
    bool raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
               !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
    return std::string("baud=") + baud + " data=" + ((t.c_cflag & CSIZE) == CS8 ? "8" : "?") +
           " parity=" + (t.c_cflag & PARENB ? "on" : "none") + " stop=" + (t.c_cflag & CSTOPB ? "2" : "1") +
           " rtscts=" + (t.c_cflag & CRTSCTS ? "1" : "0") + " ixon=" + (t.c_iflag & IXON ? "1" : "0") +
           " ixoff=" + (t.c_iflag & IXOFF ? "1" : "0") + " raw=" + (raw ? "1" : "0");
}

const char LINE_115200_8N1[] = "baud=115200 data=8 parity=none stop=1 rtscts=0 ixon=0 ixoff=0 raw=1";

// The line as a fresh port would be: cooked, 9600, two stop bits, both kinds of flow control.
void spoil_line(int fd)
{
    termios t;
    tcgetattr(fd, &t);
    t.c_lflag |= ICANON | ECHO;
    t.c_oflag |= OPOST;
    t.c_iflag |= ICRNL | IXON | IXOFF;
    t.c_cflag |= CSTOPB | CRTSCTS;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
}

// True while someone holds the port in exclusive mode.
bool exclusive(int fd)
{
    int on = 0;
    return ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
}

// True when another program could take the port's lock now.
bool lockable(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return ok;
}

TEST_F(ChannelTest, OpeningMakesTheLineRaw115200_8N1WithoutFlowControl)
{
    spoil_line(line.keeper);
    ASSERT_TRUE(open_data_channel());
    EXPECT_EQ(termios_of(line.keeper), LINE_115200_8N1);
}

TEST_F(ChannelTest, StopBitsAndBaudFollowTheRequest)
{
    ASSERT_TRUE(open_data_channel(record, 2));
    EXPECT_EQ(termios_of(line.keeper), "baud=115200 data=8 parity=none stop=2 rtscts=0 ixon=0 ixoff=0 raw=1");
    channel_close(0);
    ASSERT_TRUE(open_data_channel(record, 0));
    EXPECT_EQ(termios_of(line.keeper), LINE_115200_8N1);
    channel_close(0);
    ASSERT_TRUE(open_data_channel(record, 3, 57600));
    EXPECT_EQ(termios_of(line.keeper), "baud=57600 data=8 parity=none stop=2 rtscts=0 ixon=0 ixoff=0 raw=1");
    channel_close(0);
    // A rate termios has no name for is refused rather than run at another speed.
    EXPECT_FALSE(open_data_channel(record, 1, 100000));
}

TEST_F(ChannelTest, RefusedArgumentsLeaveTheSlotClosed)
{
    spoil_line(line.keeper);
    EXPECT_FALSE(channel_open(1, DATA_PORT, 115200, 1, 8192, 1024, record));
    EXPECT_FALSE(channel_open(0, 0, 115200, 1, 8192, 1024, record));
    EXPECT_FALSE(channel_open(0, DATA_PORT, 115200, 1, 0, 1024, record));
    EXPECT_FALSE(channel_open(0, DATA_PORT, 115200, 1, 8192, 0, record));
    EXPECT_FALSE(channel_open(0, DATA_PORT, 115200, 1, 8192, 1024, nullptr));
    EXPECT_FALSE(channel_open(0, 97, 115200, 1, 8192, 1024, record));  // no device file for COM97
    EXPECT_EQ(termios_of(line.keeper),
              "baud=9600 data=8 parity=none stop=2 rtscts=1 ixon=1 ixoff=1 raw=0");
    const uint8_t probe[] = {1, 2, 3};
    EXPECT_FALSE(channel_write(0, probe, sizeof probe));
    EXPECT_TRUE(pty_take(line, 100).empty());
    EXPECT_TRUE(open_data_channel());
}

TEST_F(ChannelTest, SecondOpenIsRefusedAndTheFirstKeepsWorking)
{
    ASSERT_TRUE(open_data_channel(record));
    EXPECT_FALSE(open_data_channel(record_second, 2));
    EXPECT_EQ(termios_of(line.keeper), LINE_115200_8N1);
    ASSERT_TRUE(pty_send(line, {0x10, 0x20, 0x30}));
    expected_total = 3;
    EXPECT_TRUE(pump_until(got_expected, 1000));
    EXPECT_EQ(received(), (Bytes{0x10, 0x20, 0x30}));
    EXPECT_TRUE(second_batches.empty());
}

TEST_F(ChannelTest, AbsentAndRefusingPortsFailToOpen)
{
    for (uint8_t port : {ABSENT_PORT, REFUSING_PORT}) {
        EXPECT_FALSE(channel_open(0, port, 115200, 1, 8192, 1024, record)) << int(port);
        const uint8_t probe[] = {1};
        EXPECT_FALSE(channel_write(0, probe, 1));
    }
    // A regular file is not a serial port either.
    int f = open((dir + "/ttyUSB1").c_str(), O_CREAT | O_WRONLY, 0644);
    close(f);
    EXPECT_FALSE(channel_open(0, ABSENT_PORT, 115200, 1, 8192, 1024, record));
    EXPECT_TRUE(open_data_channel());
}

TEST_F(ChannelTest, APortAnotherProgramHoldsFailsAndAnOpenPortIsHeldExclusively)
{
    int other = open(line.slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(open_data_channel());
    close(other);

    ASSERT_TRUE(open_data_channel());
    EXPECT_TRUE(exclusive(line.keeper));
    EXPECT_FALSE(lockable(line.slave_path));
    channel_close(0);
    // Closing gives the port back for everyone, the exclusive mode included.
    EXPECT_FALSE(exclusive(line.keeper));
    EXPECT_TRUE(lockable(line.slave_path));
}

TEST_F(ChannelTest, BytesPendingBeforeOpeningAreDiscarded)
{
    ASSERT_TRUE(pty_send(line, {0x55, 0x66, 0x77}));
    usleep(100 * 1000);
    ASSERT_TRUE(open_data_channel());
    pump_messages(300);
    EXPECT_TRUE(batches.empty());
}

// Far more than a pty holds: the write must wait for room and still deliver every byte.
TEST_F(ChannelTest, AWriteLargerThanTheDriverQueueWaitsUntilEveryByteIsOut)
{
    ASSERT_TRUE(open_data_channel());
    Bytes big(65535);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
    Bytes got;
    std::atomic<bool> writing{true};
    std::thread reader([&] {
        usleep(50 * 1000);  // let the queue fill first
        while (writing || got.size() < big.size()) {
            Bytes part = pty_take(line, 200);
            got.insert(got.end(), part.begin(), part.end());
            if (part.empty() && !writing)
                break;
        }
    });
    EXPECT_TRUE(channel_write(0, big.data(), static_cast<uint16_t>(big.size())));
    writing = false;
    reader.join();
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
}

TEST_F(ChannelTest, AFloodBetweenPollsArrivesInBatchesOfAtMostTheReceiveSize)
{
    ASSERT_TRUE(open_data_channel());
    Bytes flood(20000);
    for (size_t i = 0; i < flood.size(); i++)
        flood[i] = static_cast<uint8_t>(i % 251);
    std::thread sender([&] { pty_send(line, flood); });
    usleep(300 * 1000);
    expected_total = flood.size();
    pump_until(got_expected, 3000);
    sender.join();
    size_t largest = 0;
    for (const Batch& b : batches)
        largest = b.bytes.size() > largest ? b.bytes.size() : largest;
    EXPECT_LE(largest, 8192u);
    EXPECT_TRUE(received() == flood);
}

double cpu_seconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The adapter pulled and plugged back: a new device under the same name.
TEST_F(ChannelTest, ALostPortIsReopenedWhenItReturnsAndCarriesOn)
{
    ASSERT_TRUE(open_data_channel());
    ASSERT_TRUE(pty_send(line, {1}));
    expected_total = 1;
    ASSERT_TRUE(pump_until(got_expected, 1000));

    pty_close(&line);
    unlink((dir + "/ttyUSB0").c_str());
    pump_messages(150);
    const uint8_t frame[] = {0x7E, 5, 0x7E};
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    double cpu = cpu_seconds();
    pump_messages(1500);
    // Polls every 50 ms and a reopen every 500 ms cost next to nothing: no busy loop.
    EXPECT_LT(cpu_seconds() - cpu, 0.15);
    EXPECT_EQ(batches.size(), 1u);
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));

    ASSERT_TRUE(pty_open(&line));
    spoil_line(line.keeper);
    link_node(dir, "ttyUSB0", line.slave_path);
    gint64 back = g_get_monotonic_time();
    bool reopened = false;
    while (!reopened && g_get_monotonic_time() - back < 2000 * 1000) {
        pump_messages(20);
        reopened = channel_write(0, frame, sizeof frame);
    }
    ASSERT_TRUE(reopened);
    EXPECT_LE(g_get_monotonic_time() - back, 800 * 1000);
    EXPECT_EQ(termios_of(line.keeper), LINE_115200_8N1);
    EXPECT_TRUE(exclusive(line.keeper));
    EXPECT_EQ(pty_take(line, 100), Bytes(frame, frame + sizeof frame));
    ASSERT_TRUE(pty_send(line, {2, 3}));
    expected_total = 3;
    ASSERT_TRUE(pump_until(got_expected, 1000));
    EXPECT_EQ(received(), (Bytes{1, 2, 3}));
}

TEST_F(ChannelTest, AWriteOnAHungUpLineLosesThePortAndCloseStopsTheReopening)
{
    ASSERT_TRUE(open_data_channel());
    std::string slave = line.slave_path;
    pty_close(&line);
    // No poll yet: the write itself finds the line dead.
    const uint8_t frame[] = {0x7E, 5, 0x7E};
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    EXPECT_FALSE(channel_write(0, frame, sizeof frame));
    pump_messages(200);
    channel_close(0);

    ASSERT_TRUE(pty_open(&line));
    link_node(dir, "ttyUSB0", line.slave_path);
    pump_messages(1200);
    EXPECT_TRUE(lockable(line.slave_path));  // nobody reopened it
    EXPECT_FALSE(exclusive(line.keeper));
    EXPECT_TRUE(batches.empty());
}

}  // namespace
