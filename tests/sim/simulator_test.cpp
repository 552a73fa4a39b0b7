// Plays the updater's side against the simulator over its pty, with literal bytes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "firmware_image.h"
#include "frame_codec.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes IDENTIFY{0x7E, 0x49, 0x44, 0x49, 0x44, 0x92, 0xE3, 0x7E};
const Bytes VERSION{0x7E, 0x54, 0x51, 0x01, 0xA1, 0xAF, 0x7E};
const Bytes FINISH{0x7E, 0x54, 0x51, 0x03, 0x20, 0xCE, 0x04, 0x00, 0xCB, 0x36, 0x7E};
const Bytes FINAL{0x7E, 0x54, 0x51, 0x04, 0xAA, 0x50, 0x0E, 0x7E};

// A block write built by hand: 54 51 02, index low byte first, the block's 256 bytes, CRC.
Bytes block_frame(uint16_t index)
{
    ImageBlock block = image_block(index);
    Bytes sealed{0x54, 0x51, 0x02, uint8_t(index & 0xFF), uint8_t(index >> 8)};
    sealed.insert(sealed.end(), block.bytes, block.bytes + BLOCK_SIZE);
    uint16_t crc = frame_crc(sealed.data(), uint16_t(sealed.size()));
    sealed.push_back(uint8_t(crc & 0xFF));
    sealed.push_back(uint8_t(crc >> 8));
    Frame f = encode_frame(sealed.data(), uint16_t(sealed.size()));
    return Bytes(f.bytes, f.bytes + f.length);
}

// A running simulator, its pty opened from our side; stopped whatever the test's outcome.
struct Sim : ::testing::Test {
    pid_t pid = -1;
    int line = -1;
    std::string report;

    void start(std::vector<std::string> args)
    {
        build_crc_table();
        reset_receiver();
        // A second run in one test starts clean.
        stop();
        if (line >= 0)
            close(line);
        line = -1;
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
        char tmpl[] = "/tmp/tq734-simtest-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        report = dir + "/report.txt";
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        std::vector<std::string> all{TQ_SIM_PATH, "--report", report, "--timeout-s", "50", "--linger-ms", "100"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        std::string ready;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            ready += c;
        close(out[0]);
        ASSERT_EQ(ready.rfind("READY /dev/", 0), 0u) << ready;
        slave = ready.substr(6);
        line = open(slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(line, 0);
        termios t;
        tcgetattr(line, &t);
        cfmakeraw(&t);
        tcsetattr(line, TCSANOW, &t);
    }

    void TearDown() override
    {
        if (line >= 0)
            close(line);
        line = -1;
        stop();
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
    }

    std::string dir;
    std::string slave;
    int exit_status = -1;

    // Ends the simulator (SIGTERM) and waits, so that its report is complete.
    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status;
            waitpid(pid, &status, 0);
            exit_status = status;
            pid = -1;
        }
    }

    // Waits up to ms for the simulator to end by itself; true if it did.
    bool ended_within(int ms)
    {
        for (int waited = 0; waited <= ms; waited += 10) {
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exit_status = status;
                pid = -1;
                return true;
            }
            usleep(10000);
        }
        return false;
    }

    void send(const Bytes& b) { ASSERT_EQ(write(line, b.data(), b.size()), ssize_t(b.size())); }

    // The bodies that arrive within ms milliseconds, through the updater's own receiver.
    std::vector<Bytes> replies(int ms, size_t want = 1)
    {
        std::vector<Bytes> got;
        timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            long spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
            if (spent >= ms || got.size() >= want)
                return got;
            pollfd p = {line, POLLIN, 0};
            if (poll(&p, 1, int(ms - spent)) <= 0)
                continue;
            uint8_t buf[512];
            ssize_t n = read(line, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                ReceivedMessage m = receive_byte(buf[i]);
                if (m.body)
                    got.emplace_back(m.body, m.body + m.length);
            }
        }
    }

    Bytes one_reply(const Bytes& request)
    {
        send(request);
        auto r = replies(2000);
        return r.empty() ? Bytes{} : r[0];
    }

    std::string report_text()
    {
        std::ifstream f(report);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
};

TEST_F(Sim, IdentifiesAsTq734AndReportsVersion2385)
{
    start({});
    EXPECT_EQ(one_reply(IDENTIFY), (Bytes{'I', 'D', 'T', 'Q'}));
    EXPECT_EQ(one_reply(VERSION), (Bytes{0x54, 0x51, 0x01, 0x02, 0x81, 0x01}));
}

TEST_F(Sim, OtherTagAndVersionWithoutFields)
{
    start({"--tag", "AB", "--no-version-fields"});
    EXPECT_EQ(one_reply(IDENTIFY), (Bytes{'I', 'D', 'A', 'B'}));
    EXPECT_EQ(one_reply(VERSION), (Bytes{0x54, 0x51, 0x01}));
    stop();
    start({"--version", "3.260"});
    EXPECT_EQ(one_reply(VERSION), (Bytes{0x54, 0x51, 0x01, 0x03, 0x04, 0x01}));
}

TEST_F(Sim, AcknowledgesBlocksIgnoresBadCrcAndRecordsTheFinalCommand)
{
    start({"--result", "8"});
    EXPECT_EQ(one_reply(block_frame(0)), (Bytes{0x54, 0x51, 0x02, 0x00, 0x00}));
    Bytes bad = block_frame(1);
    bad[100] = bad[100] == 0x11 ? 0x12 : 0x11;
    send(bad);
    EXPECT_TRUE(replies(300).empty());
    EXPECT_EQ(one_reply(block_frame(1230)), (Bytes{0x54, 0x51, 0x02, 0xCE, 0x04}));
    EXPECT_EQ(one_reply(FINISH), (Bytes{0x54, 0x51, 0x03, 0x08}));
    send(FINAL);
    replies(300);
    stop();
    std::string r = report_text();
    EXPECT_NE(r.find("rx bad CRC"), std::string::npos);
    EXPECT_NE(r.find("finish length: 314912"), std::string::npos);
    EXPECT_NE(r.find("final command: yes"), std::string::npos);
    EXPECT_NE(r.find("image: incomplete"), std::string::npos);
}

TEST_F(Sim, EarlyFinishAndSilence)
{
    start({"--finish-after-block", "2", "--result", "11", "--silent-from-block", "4"});
    EXPECT_EQ(one_reply(block_frame(1)), (Bytes{0x54, 0x51, 0x02, 0x01, 0x00}));
    send(block_frame(2));
    auto r = replies(2000, 2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1], (Bytes{0x54, 0x51, 0x03, 0x0B}));
    EXPECT_EQ(one_reply(block_frame(3)).size(), 5u);
    send(block_frame(4));
    EXPECT_TRUE(replies(300).empty());
    EXPECT_TRUE(one_reply(IDENTIFY).empty());
}

TEST_F(Sim, SplitNoisyDuplicatedRepliesStillDecode)
{
    start({"--split", "--noise", "1", "--duplicate-acks", "1", "--unsolicited-id", "XY", "--unsolicited-after-block", "0"});
    send(block_frame(0));
    auto r = replies(2000, 3);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], (Bytes{0x54, 0x51, 0x02, 0x00, 0x00}));
    EXPECT_EQ(r[1], r[0]);
    EXPECT_EQ(r[2], (Bytes{'I', 'D', 'X', 'Y'}));
}

TEST_F(Sim, DroppedAndCorruptedRepliesNeverArriveIntact)
{
    start({"--drop-acks", "1"});
    send(block_frame(0));
    EXPECT_TRUE(replies(300).empty());
    stop();
    start({"--corrupt", "1"});
    send(IDENTIFY);
    EXPECT_TRUE(replies(300).empty());
}

TEST_F(Sim, WholeImageComparedByteForByteWithRetransmissionsLogged)
{
    start({});
    for (uint16_t i = 0; i <= 1230; ++i) {
        send(block_frame(i));
        ASSERT_EQ(replies(2000).size(), 1u) << "block " << i;
    }
    send(block_frame(5));   // a retransmission
    replies(2000);
    EXPECT_EQ(one_reply(FINISH), (Bytes{0x54, 0x51, 0x03, 0x00}));
    send(FINAL);
    replies(300);
    stop();
    std::string r = report_text();
    EXPECT_NE(r.find("rx block 5 retransmission interval="), std::string::npos);
    EXPECT_NE(r.find("image: identical"), std::string::npos) << r.substr(r.size() > 400 ? r.size() - 400 : 0);
    EXPECT_NE(r.find("retransmissions=1 "), std::string::npos);
}

TEST_F(Sim, WireTimeDelaysRepliesByTheLineRate)
{
    start({"--wire-time"});
    timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    EXPECT_EQ(one_reply(block_frame(0)).size(), 5u);
    clock_gettime(CLOCK_MONOTONIC, &b);
    double ms = (b.tv_sec - a.tv_sec) * 1000.0 + (b.tv_nsec - a.tv_nsec) / 1e6;
    // At least the request's ~265 bytes at 86.8 us each.
    EXPECT_GE(ms, 20.0);
}

// Bytes of the frames read within ms, and how many reads delivered them.
struct RawRead {
    Bytes bytes;
    int reads = 0;
};

RawRead read_raw(int line, int ms)
{
    RawRead r;
    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        long spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (spent >= ms)
            return r;
        pollfd p = {line, POLLIN, 0};
        if (poll(&p, 1, int(ms - spent)) <= 0)
            continue;
        uint8_t buf[512];
        ssize_t n = read(line, buf, sizeof buf);
        if (n > 0) {
            ++r.reads;
            r.bytes.insert(r.bytes.end(), buf, buf + n);
        }
    }
}

double ms_since(const timespec& a)
{
    timespec b;
    clock_gettime(CLOCK_MONOTONIC, &b);
    return (b.tv_sec - a.tv_sec) * 1000.0 + (b.tv_nsec - a.tv_nsec) / 1e6;
}

// Runs the simulator with these arguments to its end; returns its exit status and stdout.
int run_to_end(const std::string& args, std::string* out)
{
    std::string command = std::string("timeout 20 ") + TQ_SIM_PATH + " " + args + " 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out->append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Sim, LinkAndReadyFileAreMadeAndRemovedAndTheFinalCommandEndsTheRunAfterTheLinger)
{
    char tmpl[] = "/tmp/tq734-simlink-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string link = std::string(tmpl) + "/com7", ready = std::string(tmpl) + "/ready";
    start({"--link", link, "--ready-file", ready, "--linger-ms", "400"});
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), slave);
    std::ifstream f(ready);
    std::string ready_line;
    std::getline(f, ready_line);
    EXPECT_EQ(ready_line, "READY " + slave);
    // Still answering during the linger.
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    send(FINAL);
    EXPECT_EQ(one_reply(IDENTIFY), (Bytes{'I', 'D', 'T', 'Q'}));
    ASSERT_TRUE(ended_within(3000));
    EXPECT_GE(ms_since(t0), 380.0);
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
    std::string r = report_text();
    EXPECT_NE(r.find("rx final command"), std::string::npos);
    EXPECT_NE(r.find("end: final command"), std::string::npos) << r;
    std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
}

// A pulled adapter: the block that arrives as it goes is lost, the link goes with the line, and
// after the pause a new line under the same link carries on from the same block.
TEST_F(Sim, UnplugDropsTheLineAndPlugsANewOneUnderTheSameLink)
{
    char tmpl[] = "/tmp/tq734-simplug-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string link = std::string(tmpl) + "/com7";
    start({"--link", link, "--unplug-at-block", "1", "--unplug-at-block", "3", "--unplug-seconds", "1"});
    EXPECT_EQ(one_reply(block_frame(0)).size(), 5u);
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    send(block_frame(1));
    EXPECT_TRUE(replies(300).empty());
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link stays while the adapter is out";
    char target[256] = {};
    while (readlink(link.c_str(), target, sizeof target - 1) <= 0 && ms_since(t0) < 3000)
        usleep(10000);
    EXPECT_GE(ms_since(t0), 950.0);
    close(line);
    line = open(target, O_RDWR | O_NOCTTY);
    ASSERT_GE(line, 0) << target;
    termios t;
    tcgetattr(line, &t);
    cfmakeraw(&t);
    tcsetattr(line, TCSANOW, &t);
    EXPECT_EQ(one_reply(block_frame(1)), (Bytes{0x54, 0x51, 0x02, 0x01, 0x00}));
    EXPECT_EQ(one_reply(block_frame(2)), (Bytes{0x54, 0x51, 0x02, 0x02, 0x00}));
    // The second pull, at block 3, ends this line too.
    send(block_frame(3));
    EXPECT_TRUE(replies(300).empty());
    stop();
    std::string r = report_text();
    EXPECT_NE(r.find("unplugged at block 1"), std::string::npos) << r;
    EXPECT_NE(r.find("plugged back on " + std::string(target)), std::string::npos) << r;
    EXPECT_NE(r.find("unplugged at block 3"), std::string::npos) << r;
    EXPECT_NE(r.find("blocks_received=3 highest_block=2 retransmissions=0"), std::string::npos) << r;
    std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
}

TEST_F(Sim, KeepRunningOutlivesTheFinalCommandAndTimeoutEndsTheRun)
{
    start({"--keep-running"});
    send(FINAL);
    EXPECT_FALSE(ended_within(600));
    stop();
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0);
    EXPECT_NE(report_text().find("end: signal 15"), std::string::npos);
    start({"--timeout-s", "1"});
    ASSERT_TRUE(ended_within(3000));
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0);
    std::string r = report_text();
    EXPECT_NE(r.find("end: timeout"), std::string::npos);
    EXPECT_NE(r.find("final command: no"), std::string::npos);
}

// A station's fixture: a device silent until it is connected, one that restarts after its
// update and comes back with the new version, one whose own USB port goes with it.
TEST_F(Sim, ArrivesLateRestartsSilentlyWithTheNewVersionOrIsRemoved)
{
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    start({"--arrive-after-ms", "700", "--version", "2.384", "--restart-silence-ms", "800", "--keep-running"});
    EXPECT_TRUE(one_reply(IDENTIFY).empty());   // asked before it arrived: never answered
    EXPECT_GE(ms_since(t0), 700.0);
    EXPECT_EQ(one_reply(IDENTIFY), (Bytes{'I', 'D', 'T', 'Q'}));
    EXPECT_EQ(one_reply(VERSION), (Bytes{0x54, 0x51, 0x01, 0x02, 0x80, 0x01}));
    send(FINAL);
    timespec final_at;
    clock_gettime(CLOCK_MONOTONIC, &final_at);
    send(IDENTIFY);
    EXPECT_TRUE(replies(400).empty());
    std::vector<Bytes> r;
    while (r.empty() && ms_since(final_at) < 3000) {
        send(IDENTIFY);
        r = replies(100);
    }
    EXPECT_GE(ms_since(final_at), 780.0);
    EXPECT_EQ(one_reply(VERSION), (Bytes{0x54, 0x51, 0x01, 0x02, 0x81, 0x01}));
    EXPECT_FALSE(ended_within(200));   // kept running for the station's next cycle
    stop();
    std::string text = report_text();
    EXPECT_NE(text.find("rx while absent (no reply)"), std::string::npos) << text;
    EXPECT_NE(text.find("arrived"), std::string::npos) << text;
    EXPECT_NE(text.find("restarting: silent for 800 ms"), std::string::npos) << text;
    EXPECT_NE(text.find("restarted with version 2.385"), std::string::npos) << text;

    char tmpl[] = "/tmp/tq734-simgone-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string link = std::string(tmpl) + "/com7";
    start({"--link", link, "--remove-after-final", "--keep-running"});
    send(FINAL);
    struct stat st;
    for (int i = 0; i < 100 && lstat(link.c_str(), &st) == 0; ++i)
        usleep(10000);
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link stays after the removal";
    // The line is hung up: a read ends at once with nothing or an error.
    pollfd p = {line, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR)) << p.revents;
    EXPECT_FALSE(ended_within(300));
    stop();
    EXPECT_NE(report_text().find("removed after the final command"), std::string::npos);
    std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
}

TEST_F(Sim, HelpNamesEveryOptionAndBadCommandLinesExitWith2)
{
    std::string help;
    EXPECT_EQ(run_to_end("--help", &help), 0);
    for (const char* option :
         {"--link", "--ready-file", "--report", "--image", "--verbose", "--progress", "--tag", "--version",
          "--no-version-fields", "--result", "--silent-from-block", "--drop-acks", "--corrupt", "--duplicate-acks",
          "--split", "--split-gap-ms", "--noise", "--delay-ms", "--finish-after-block", "--unplug-at-block",
          "--unplug-seconds", "--unsolicited-id",
          "--unsolicited-after-block", "--wire-time", "--seed", "--exit-on-final", "--keep-running", "--linger-ms",
          "--timeout-s", "--arrive-after-ms", "--restart-silence-ms", "--new-version", "--remove-after-final",
          "Exit status"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    std::string ignored;
    EXPECT_EQ(run_to_end("--no-such-option", &ignored), 2);
    EXPECT_EQ(run_to_end("--drop-acks 1.5", &ignored), 2);
    EXPECT_EQ(run_to_end("--tag TQX", &ignored), 2);
    EXPECT_EQ(run_to_end("--version 2", &ignored), 2);
    EXPECT_EQ(run_to_end("--result 256", &ignored), 2);
    EXPECT_EQ(run_to_end("--arrive-after-ms -1", &ignored), 2);
    EXPECT_EQ(run_to_end("--new-version 2", &ignored), 2);
    EXPECT_EQ(run_to_end("--image /nonexistent/firmware.bin", &ignored), 1);
}

TEST_F(Sim, DelayHoldsEachReply)
{
    start({"--delay-ms", "150"});
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    EXPECT_EQ(one_reply(IDENTIFY).size(), 4u);
    EXPECT_GE(ms_since(t0), 145.0);
}

TEST_F(Sim, SplitWritesOneByteAtATime)
{
    start({"--split", "--split-gap-ms", "5"});
    send(IDENTIFY);
    RawRead r = read_raw(line, 400);
    // 7E 49 44 54 51 CRC 7E: eight bytes, each in a read of its own.
    EXPECT_EQ(r.bytes.size(), 8u);
    EXPECT_GE(r.reads, 4);
}

TEST_F(Sim, WireTimePacesRepliesAtTheLineRate)
{
    start({"--wire-time"});
    Bytes many;
    for (int i = 0; i < 50; ++i)
        many.insert(many.end(), VERSION.begin(), VERSION.end());
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    send(many);
    EXPECT_EQ(replies(3000, 50).size(), 50u);
    // 350 request bytes in and 500 reply bytes out at 86.8 us each: at least ~43 ms.
    EXPECT_GE(ms_since(t0), 40.0);
    EXPECT_LT(ms_since(t0), 500.0);
}

TEST_F(Sim, MalformedRequestsAreReportedAndUnanswered)
{
    start({});
    Bytes out_of_range = block_frame(0);
    // Index 1231 (CF 04): rebuild the frame by hand with a correct CRC.
    Bytes body{0x54, 0x51, 0x02, 0xCF, 0x04};
    body.resize(261, 0x11);
    uint16_t crc = frame_crc(body.data(), uint16_t(body.size()));
    body.push_back(uint8_t(crc & 0xFF));
    body.push_back(uint8_t(crc >> 8));
    Frame f = encode_frame(body.data(), uint16_t(body.size()));
    send(Bytes(f.bytes, f.bytes + f.length));
    EXPECT_TRUE(replies(200).empty());
    // 54 51 05 with its CRC, and a two-byte collection.
    Bytes unknown{0x54, 0x51, 0x05};
    crc = frame_crc(unknown.data(), 3);
    Bytes unknown_frame{0x7E, 0x54, 0x51, 0x05, uint8_t(crc & 0xFF), uint8_t(crc >> 8), 0x7E};
    send(unknown_frame);
    send(Bytes{0x7E, 0x41, 0x42, 0x7E});
    EXPECT_TRUE(replies(200).empty());
    EXPECT_EQ(one_reply(IDENTIFY).size(), 4u);
    stop();
    std::string r = report_text();
    EXPECT_NE(r.find("rx block 1231 out of range"), std::string::npos);
    EXPECT_NE(r.find("rx unknown message 54 51 05"), std::string::npos);
    EXPECT_NE(r.find("rx garbage (2 bytes)"), std::string::npos);
}

TEST_F(Sim, ChangedDataIsFoundAtItsOffset)
{
    start({});
    Bytes body{0x54, 0x51, 0x02, 0x03, 0x00};
    ImageBlock block = image_block(3);
    body.insert(body.end(), block.bytes, block.bytes + BLOCK_SIZE);
    body[5 + 17] ^= 0x01;
    uint16_t crc = frame_crc(body.data(), uint16_t(body.size()));
    body.push_back(uint8_t(crc & 0xFF));
    body.push_back(uint8_t(crc >> 8));
    Frame f = encode_frame(body.data(), uint16_t(body.size()));
    EXPECT_EQ(one_reply(Bytes(f.bytes, f.bytes + f.length)), (Bytes{0x54, 0x51, 0x02, 0x03, 0x00}));
    stop();
    EXPECT_NE(report_text().find("image: differs at offset 785"), std::string::npos);  // 3 * 256 + 17
}

// Which of blocks 0..23 get an acknowledgement with --drop-acks 0.5 and this seed.
std::string ack_pattern(Sim& sim, const char* seed)
{
    sim.start({"--drop-acks", "0.5", "--seed", seed});
    std::string pattern;
    for (uint16_t i = 0; i < 24; ++i) {
        sim.send(block_frame(i));
        pattern += sim.replies(150).empty() ? '-' : 'A';
    }
    sim.stop();
    close(sim.line);
    sim.line = -1;
    return pattern;
}

TEST_F(Sim, TheSeedFixesWhichAcknowledgementsAreDropped)
{
    std::string first = ack_pattern(*this, "7");
    EXPECT_EQ(ack_pattern(*this, "7"), first);
    EXPECT_NE(first.find('A'), std::string::npos);
    EXPECT_NE(first.find('-'), std::string::npos);
    EXPECT_NE(ack_pattern(*this, "8"), first);
}

TEST_F(Sim, NoiseNeverSwallowsTheFrameAfterIt)
{
    start({"--noise", "1", "--seed", "3"});
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(one_reply(IDENTIFY), (Bytes{'I', 'D', 'T', 'Q'})) << "reply " << i;
    stop();
    EXPECT_NE(report_text().find("tx noise"), std::string::npos);
}

}  // namespace
