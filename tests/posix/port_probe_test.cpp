// COM numbers, device files and what the port list makes of odd nodes, in a private
// device directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "com_devices.h"
#include "fake_devices.h"
#include "port_selection.h"
#include "script_options.h"

namespace {

TEST(ComDevices, TheTableNamesEachNumberOnce)
{
    const struct {
        unsigned port;
        const char* name;
    } rows[] = {
        {1, "ttyS0"},     {9, "ttyS8"},      {32, "ttyS31"},  {33, "ttyUSB0"}, {34, "ttyUSB1"},
        {64, "ttyUSB31"}, {65, "ttyACM0"},   {96, "ttyACM31"}, {0, nullptr},   {97, nullptr},
        {255, nullptr},   {256, nullptr},    {65535, nullptr},
    };
    for (const auto& row : rows) {
        char name[16];
        const char* got = com_device_name(row.port, name, sizeof name);
        if (row.name)
            EXPECT_STREQ(got, row.name) << row.port;
        else
            EXPECT_EQ(got, nullptr) << row.port;
    }
    char tiny[4];
    EXPECT_EQ(com_device_name(33, tiny, sizeof tiny), nullptr);  // never a cut-off name
}

// -p takes the table's device names as well, with or without /dev (the device directory
// replaces /dev for them as for every port).
TEST(ComDevices, PortOptionNamesOfTheTable)
{
    const struct {
        const char* text;
        uint16_t port;
    } rows[] = {
        {"ttyUSB0", 33}, {"/dev/ttyUSB0", 33}, {"ttyS0", 1}, {"/dev/ttyACM31", 96}, {"COM33", 33},
        {"ttyUSB32", 0}, {"/tmp/ttyUSB0", 0},  {"dev/ttyS1", 0}, {"/dev/", 0},     {"ttyusb0", 0},
        {"tty", 0},      {"", 0},
    };
    setenv("TQ734_DEVICE_DIR", "/tmp/x", 1);
    for (const auto& row : rows)
        EXPECT_EQ(port_of_option(row.text), row.port) << row.text;
    unsetenv("TQ734_DEVICE_DIR");
}

TEST(ComDevices, TheDeviceDirectoryIsDevUnlessOverridden)
{
    char path[64];
    unsetenv("TQ734_DEVICE_DIR");
    ASSERT_TRUE(com_device_path(33, path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyUSB0");
    setenv("TQ734_DEVICE_DIR", "", 1);
    ASSERT_TRUE(com_device_path(1, path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS0");
    setenv("TQ734_DEVICE_DIR", "/tmp/x", 1);
    ASSERT_TRUE(com_device_path(96, path, sizeof path));
    EXPECT_STREQ(path, "/tmp/x/ttyACM31");
    EXPECT_FALSE(com_device_path(97, path, sizeof path));
    setenv("TQ734_DEVICE_DIR", std::string(100, 'd').c_str(), 1);
    EXPECT_FALSE(com_device_path(1, path, sizeof path));
    unsetenv("TQ734_DEVICE_DIR");
}

struct PortProbe : ::testing::Test {
    std::string dir;
    FakePty a, b;
    void SetUp() override
    {
        dir = make_device_dir();
        ASSERT_TRUE(pty_open(&a));
        ASSERT_TRUE(pty_open(&b));
    }
    void TearDown() override
    {
        pty_close(&a);
        pty_close(&b);
        remove_device_dir(dir);
        unsetenv("TQ734_DEVICE_DIR");
    }
};

TEST_F(PortProbe, EachKindOfNodeIsPresentBusyOrAbsent)
{
    link_node(dir, "ttyS2", a.slave_path);                // COM3: a terminal
    link_node(dir, "ttyUSB0", b.slave_path);              // COM33: a terminal someone holds
    int holder = open(b.slave_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    mkdir((dir + "/ttyS3").c_str(), 0755);                // COM4: cannot be opened (EISDIR)
    close(open((dir + "/ttyS4").c_str(), O_CREAT | O_WRONLY, 0644));  // COM5: a plain file
    link_node(dir, "ttyS5", dir + "/nowhere");            // COM6: a dangling link
    mkfifo((dir + "/ttyS6").c_str(), 0600);               // COM7: a FIFO
    link_node(dir, "ttyACM31", a.slave_path);             // COM96: the last number with a file
    link_node(dir, "ttyACM32", a.slave_path);             // beyond the table: never looked at
    link_node(dir, "ttyS7", "/dev/null");                 // COM8: a device, not a terminal

    EXPECT_EQ(probe_port(3), ProbeResult::Present);
    EXPECT_EQ(probe_port(33), ProbeResult::Present);  // flock alone does not stop a probe
    EXPECT_EQ(probe_port(4), ProbeResult::Busy);
    EXPECT_EQ(probe_port(5), ProbeResult::Absent);
    EXPECT_EQ(probe_port(6), ProbeResult::Absent);
    EXPECT_EQ(probe_port(7), ProbeResult::Absent);
    EXPECT_EQ(probe_port(8), ProbeResult::Absent);
    EXPECT_EQ(probe_port(96), ProbeResult::Present);
    EXPECT_EQ(probe_port(97), ProbeResult::Absent);
    EXPECT_EQ(probe_port(1), ProbeResult::Absent);
    EXPECT_EQ(probe_port(256), ProbeResult::Absent);
    close(holder);
}

// What a technician's account sees: run as "nobody" when the tests run as root, for whom
// neither exclusive use nor file permissions stop an open.
ProbeResult probe_as_ordinary_user(unsigned n)
{
    if (geteuid() != 0)
        return probe_port(n);
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(99);
        _exit(static_cast<int>(probe_port(n)));
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 2)
        ADD_FAILURE() << "the probe as an ordinary user did not run";
    return static_cast<ProbeResult>(WEXITSTATUS(status));
}

TEST_F(PortProbe, APortInExclusiveUseOrWithoutPermissionIsListedAsBusyForOrdinaryUsers)
{
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    link_node(dir, "ttyS0", a.slave_path);   // COM1: held in exclusive use
    ASSERT_EQ(chmod(a.slave_path.c_str(), 0666), 0);
    link_node(dir, "ttyS1", b.slave_path);   // COM2: a user outside the port's group (dialout)
    ASSERT_EQ(chmod(b.slave_path.c_str(), 0), 0);
    EXPECT_EQ(probe_as_ordinary_user(1), ProbeResult::Present);
    ASSERT_EQ(ioctl(a.keeper, TIOCEXCL), 0);
    EXPECT_EQ(probe_as_ordinary_user(1), ProbeResult::Busy);
    ioctl(a.keeper, TIOCNXCL);
    EXPECT_EQ(probe_as_ordinary_user(2), ProbeResult::Busy);
}

}  // namespace
