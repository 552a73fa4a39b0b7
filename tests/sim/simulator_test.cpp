// Plays the updater's side against the simulator over its pty, with literal bytes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
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
        char tmpl[] = "/tmp/tq734-simtest-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        report = std::string(tmpl) + "/report.txt";
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
        line = open(ready.substr(6).c_str(), O_RDWR | O_NOCTTY);
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
        stop();
    }

    // Ends the simulator (SIGTERM) and waits, so that its report is complete.
    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status;
            waitpid(pid, &status, 0);
            pid = -1;
        }
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

}  // namespace
