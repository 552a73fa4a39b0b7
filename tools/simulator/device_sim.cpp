// TQ734 device simulator: plays the device side of the update protocol on a
// pseudo-terminal and misbehaves on request. See --help.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "frame_codec.h"

#ifndef TQ_DEFAULT_IMAGE
#define TQ_DEFAULT_IMAGE "resources/firmware.bin"
#endif

namespace {

// Device-side numbers, written from the protocol's byte tables.
constexpr uint32_t IMAGE_BYTES = 314912;
constexpr unsigned BLOCK_BYTES = 256;
constexpr unsigned LAST_INDEX = 1230;
constexpr unsigned TAIL_BYTES = 32;
constexpr unsigned MAX_COLLECT = 600;   // a sealed block write is 263 bytes
constexpr double BYTE_WIRE_MS = 10.0 * 1000.0 / 115200.0;

struct Options {
    std::string link_path, report_path, ready_file, image_path = TQ_DEFAULT_IMAGE;
    uint8_t tag[2] = {'T', 'Q'};
    unsigned major = 2, minor = 385;
    bool version_fields = true;
    unsigned result = 0;
    long silent_from = -1, finish_after = -1, unsolicited_after = -1;
    uint8_t unsolicited_tag[2] = {0, 0};
    bool unsolicited = false;
    double drop_acks = 0, corrupt = 0, duplicate_acks = 0, noise = 0;
    bool split = false, wire_time = false, progress = false;
    unsigned delay_ms = 0, linger_ms = 500;
    double timeout_s = 600;
    uint32_t seed = 1;
};

Options opt;
volatile sig_atomic_t stop_requested = 0;

// Line state.
int master_fd = -1, slave_fd = -1;
double start_ms = 0;
double rx_line_free_ms = 0, tx_line_free_ms = 0;

struct PendingWrite {
    double due_ms;
    std::vector<uint8_t> bytes;
};
std::deque<PendingWrite> outbox;

// Deframer state.
uint8_t collect[MAX_COLLECT];
unsigned collected = 0;
bool escaped = false;

// Device state and the report.
std::vector<uint8_t> stored(IMAGE_BYTES, 0);
std::vector<uint8_t> tail_padding(BLOCK_BYTES - TAIL_BYTES, 0);
std::vector<bool> have_block(LAST_INDEX + 1, false);
std::vector<double> last_seen_ms(LAST_INDEX + 1, -1);
bool silent = false, final_seen = false, finish_sent = false;
double final_at_ms = -1;
unsigned blocks_received = 0, retransmissions = 0, bad_frames = 0, finish_requests = 0;
long highest_block = -1;
uint32_t finish_length = 0;
FILE* report = nullptr;
uint32_t rng_state;

double now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

double elapsed_ms() { return now_ms() - start_ms; }

// xorshift32: reproducible misbehaviour for a given --seed.
uint32_t next_random()
{
    rng_state ^= rng_state << 13;
    rng_state ^= rng_state >> 17;
    rng_state ^= rng_state << 5;
    return rng_state;
}

bool chance(double p) { return p > 0 && (next_random() % 1000000) < p * 1000000; }

void log_event(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_event(const char* fmt, ...)
{
    if (!report)
        return;
    std::fprintf(report, "t=%.1f ", elapsed_ms());
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(report, fmt, ap);
    va_end(ap);
    std::fputc('\n', report);
}

// Seals a body with its CRC and frames it (shared codec: flags, 0x65 escapes).
std::vector<uint8_t> frame(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> sealed = body;
    uint16_t crc = frame_crc(body.data(), uint16_t(body.size()));
    sealed.push_back(uint8_t(crc & 0xFF));
    sealed.push_back(uint8_t(crc >> 8));
    Frame f = encode_frame(sealed.data(), uint16_t(sealed.size()));
    return std::vector<uint8_t>(f.bytes, f.bytes + f.length);
}

// Garbage that never ends in an escape byte, so the next frame's opening flag stays a flag.
std::vector<uint8_t> noise_bytes()
{
    std::vector<uint8_t> g(1 + next_random() % 24);
    for (auto& b : g) {
        uint32_t r = next_random();
        b = (r & 7) == 0 ? 0x7E : (r & 7) == 1 ? 0x65 : uint8_t(r >> 8);
    }
    if (g.back() == 0x65)
        g.back() = 0x00;
    return g;
}

// Queues a reply, applying delay, corruption, noise and splitting.
void send_reply(const std::vector<uint8_t>& body, const char* what)
{
    if (silent)
        return;
    std::vector<uint8_t> wire = frame(body);
    if (chance(opt.corrupt)) {
        size_t at = 1 + next_random() % (wire.size() - 2);
        wire[at] ^= uint8_t(1u << (next_random() % 8));
        if (wire[at] == 0x7E || wire[at] == 0x65)   // keep the frame one frame
            wire[at] ^= 0x01;
        log_event("tx corrupted %s", what);
    } else {
        log_event("tx %s", what);
    }
    if (chance(opt.noise)) {
        std::vector<uint8_t> g = noise_bytes();
        wire.insert(wire.begin(), g.begin(), g.end());
    }
    double due = std::max(now_ms(), rx_line_free_ms) + opt.delay_ms;
    if (opt.split) {
        for (size_t i = 0; i < wire.size(); ++i)
            outbox.push_back({due + double(i) * 0.5, {wire[i]}});
    } else {
        outbox.push_back({due, wire});
    }
}

void send_ack(unsigned index)
{
    std::vector<uint8_t> body{0x54, 0x51, 0x02, uint8_t(index & 0xFF), uint8_t(index >> 8)};
    char what[32];
    std::snprintf(what, sizeof what, "ack %u", index);
    if (chance(opt.drop_acks)) {
        log_event("dropped ack %u", index);
        return;
    }
    send_reply(body, what);
    if (chance(opt.duplicate_acks))
        send_reply(body, what);
}

void send_finish_reply(const char* why)
{
    std::vector<uint8_t> body{0x54, 0x51, 0x03, uint8_t(opt.result)};
    char what[48];
    std::snprintf(what, sizeof what, "finish result %u (%s)", opt.result, why);
    send_reply(body, what);
    finish_sent = true;
}

void on_block(const uint8_t* body, unsigned length)
{
    if (length != 5 + BLOCK_BYTES) {
        log_event("rx block write of bad length %u", length);
        return;
    }
    unsigned index = body[3] | (body[4] << 8);
    if (index > LAST_INDEX) {
        log_event("rx block %u out of range", index);
        return;
    }
    double t = elapsed_ms();
    if (last_seen_ms[index] >= 0) {
        ++retransmissions;
        log_event("rx block %u retransmission interval=%.0fms", index, t - last_seen_ms[index]);
    } else {
        log_event("rx block %u", index);
    }
    last_seen_ms[index] = t;
    unsigned count = index == LAST_INDEX ? TAIL_BYTES : BLOCK_BYTES;
    std::memcpy(&stored[size_t(index) * BLOCK_BYTES], body + 5, count);
    if (index == LAST_INDEX)
        std::memcpy(tail_padding.data(), body + 5 + TAIL_BYTES, BLOCK_BYTES - TAIL_BYTES);
    if (!have_block[index]) {
        have_block[index] = true;
        ++blocks_received;
        if (opt.progress && (blocks_received % 100 == 0 || blocks_received == LAST_INDEX + 1))
            std::printf("PROGRESS %u/%u\n", blocks_received, LAST_INDEX + 1), std::fflush(stdout);
    }
    if (long(index) > highest_block)
        highest_block = index;
    if (opt.silent_from >= 0 && long(index) >= opt.silent_from && !silent) {
        silent = true;
        log_event("silent from now on");
    }
    send_ack(index);
    if (opt.unsolicited && opt.unsolicited_after >= 0 && long(index) == opt.unsolicited_after) {
        opt.unsolicited = false;
        send_reply({'I', 'D', opt.unsolicited_tag[0], opt.unsolicited_tag[1]}, "unsolicited identification");
    }
    if (opt.finish_after >= 0 && long(index) == opt.finish_after && !finish_sent)
        send_finish_reply("early");
}

// Acts on one CRC-checked body from the updater.
void on_message(const uint8_t* body, unsigned length)
{
    if (length == 4 && std::memcmp(body, "IDID", 4) == 0) {
        log_event("rx identify request");
        send_reply({'I', 'D', opt.tag[0], opt.tag[1]}, "identification");
        return;
    }
    if (length < 3 || body[0] != 0x54 || body[1] != 0x51) {
        log_event("rx unknown message of %u bytes", length);
        return;
    }
    switch (body[2]) {
    case 0x01:
        log_event("rx version request");
        if (opt.version_fields)
            send_reply({0x54, 0x51, 0x01, uint8_t(opt.major), uint8_t(opt.minor & 0xFF), uint8_t(opt.minor >> 8)},
                       "version");
        else
            send_reply({0x54, 0x51, 0x01}, "version without fields");
        break;
    case 0x02:
        on_block(body, length);
        break;
    case 0x03:
        if (length != 7) {
            log_event("rx finish request of bad length %u", length);
            break;
        }
        finish_length = uint32_t(body[3]) | uint32_t(body[4]) << 8 | uint32_t(body[5]) << 16 | uint32_t(body[6]) << 24;
        ++finish_requests;
        log_event("rx finish length=%u", finish_length);
        send_finish_reply("requested");
        break;
    case 0x04:
        if (length == 4 && body[3] == 0xAA) {
            log_event("rx final command");
            final_seen = true;
            final_at_ms = now_ms();
        } else {
            log_event("rx malformed final command");
        }
        break;
    default:
        log_event("rx unknown type %02X", body[2]);
        break;
    }
}

// Device-side deframer: flags, escapes, CRC low byte first; bad frames dropped silently.
void on_byte(uint8_t b)
{
    if (escaped) {
        escaped = false;
    } else if (b == 0x7E) {
        if (collected >= 3) {
            unsigned n = collected - 2;
            uint16_t carried = uint16_t(collect[n] | (collect[n + 1] << 8));
            if (frame_crc(collect, uint16_t(n)) == carried) {
                on_message(collect, n);
            } else {
                ++bad_frames;
                log_event("rx bad CRC (%u bytes)", collected);
            }
        } else if (collected > 0) {
            ++bad_frames;
            log_event("rx garbage (%u bytes)", collected);
        }
        collected = 0;
        return;
    } else if (b == 0x65) {
        escaped = true;
        return;
    }
    if (collected < MAX_COLLECT) {
        collect[collected++] = b;
    } else {
        ++bad_frames;
        log_event("rx overlong frame dropped");
        collected = 0;
    }
}

// Reads what the updater wrote; with wire emulation a byte "arrives" 86.8 us after the previous one.
void read_line()
{
    uint8_t buf[4096];
    ssize_t n = read(master_fd, buf, sizeof buf);
    if (n <= 0)
        return;
    if (opt.wire_time)
        rx_line_free_ms = std::max(now_ms(), rx_line_free_ms) + double(n) * BYTE_WIRE_MS;
    for (ssize_t i = 0; i < n; ++i)
        on_byte(buf[i]);
}

// Writes queued replies whose time has come, paced at the line rate when emulating it.
void flush_outbox()
{
    while (!outbox.empty()) {
        PendingWrite& w = outbox.front();
        double t = now_ms();
        double due = opt.wire_time ? std::max(w.due_ms, tx_line_free_ms) : w.due_ms;
        if (due > t)
            return;
        size_t off = 0;
        while (off < w.bytes.size()) {
            ssize_t k = write(master_fd, w.bytes.data() + off, w.bytes.size() - off);
            if (k < 0 && errno == EINTR)
                continue;
            if (k <= 0)
                break;
            off += size_t(k);
        }
        if (opt.wire_time)
            tx_line_free_ms = t + double(w.bytes.size()) * BYTE_WIRE_MS;
        outbox.pop_front();
    }
}

int next_timeout_ms()
{
    if (outbox.empty())
        return 20;
    double due = opt.wire_time ? std::max(outbox.front().due_ms, tx_line_free_ms) : outbox.front().due_ms;
    double wait = due - now_ms();
    return wait <= 0 ? 0 : wait > 20 ? 20 : int(wait) + 1;
}

bool open_pty()
{
    master_fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_fd < 0 || grantpt(master_fd) != 0 || unlockpt(master_fd) != 0)
        return false;
    const char* name = ptsname(master_fd);
    if (!name)
        return false;
    // Our own slave handle keeps the line up while the updater opens and closes its side,
    // and is where the line discipline is made raw.
    slave_fd = open(name, O_RDWR | O_NOCTTY);
    if (slave_fd < 0)
        return false;
    termios t;
    tcgetattr(slave_fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(slave_fd, TCSANOW, &t);
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
    if (!opt.link_path.empty()) {
        unlink(opt.link_path.c_str());
        if (symlink(name, opt.link_path.c_str()) != 0) {
            std::perror(opt.link_path.c_str());
            return false;
        }
    }
    return true;
}

void write_summary()
{
    if (!report)
        return;
    std::vector<uint8_t> image;
    FILE* f = std::fopen(opt.image_path.c_str(), "rb");
    if (f) {
        image.resize(IMAGE_BYTES + 1);
        image.resize(std::fread(image.data(), 1, image.size(), f));
        std::fclose(f);
    }
    std::fprintf(report, "summary blocks_received=%u highest_block=%ld retransmissions=%u bad_frames=%u finish_requests=%u\n",
                 blocks_received, highest_block, retransmissions, bad_frames, finish_requests);
    if (finish_requests)
        std::fprintf(report, "finish length: %u\n", finish_length);
    std::fprintf(report, "final command: %s\n", final_seen ? "yes" : "no");
    bool padding_zero = true;
    for (uint8_t b : tail_padding)
        padding_zero = padding_zero && b == 0;
    if (image.size() != IMAGE_BYTES) {
        std::fprintf(report, "image: reference %s unreadable or not %u bytes\n", opt.image_path.c_str(), IMAGE_BYTES);
    } else if (blocks_received != LAST_INDEX + 1) {
        std::fprintf(report, "image: incomplete (%u of %u blocks)\n", blocks_received, LAST_INDEX + 1);
    } else {
        size_t at = 0;
        while (at < IMAGE_BYTES && stored[at] == image[at])
            ++at;
        if (at == IMAGE_BYTES && padding_zero)
            std::fprintf(report, "image: identical\n");
        else if (at == IMAGE_BYTES)
            std::fprintf(report, "image: differs in the tail padding\n");
        else
            std::fprintf(report, "image: differs at offset %zu\n", at);
    }
    std::fflush(report);
}

void on_signal(int) { stop_requested = 1; }

void usage(FILE* out)
{
    std::fputs(
        "usage: tq734_sim [options]\n"
        "Plays a TQ734 device (CPU2 updater side) on a new pseudo-terminal.\n"
        "Prints 'READY <slave path>' on stdout once the line is up; runs until the final\n"
        "command has arrived and --linger-ms has passed, --timeout-s passes, or SIGTERM/SIGINT.\n"
        "Always writes the report and removes the link on exit. Exit code 0, 2 on bad usage,\n"
        "1 when the pty or link cannot be made.\n"
        "\n"
        "Where:\n"
        "  --link PATH               symlink to the pty slave (e.g. $WINEPREFIX/dosdevices/com7)\n"
        "  --ready-file PATH         also write the READY line to PATH\n"
        "  --report PATH             event log and summary (see below)\n"
        "  --image PATH              image to compare the received one with (default: the built-in one)\n"
        "  --timeout-s S             give up after S seconds (default 600)\n"
        "  --linger-ms MS            keep running MS after the final command (default 500)\n"
        "  --progress                print 'PROGRESS n/1231' every 100 new blocks\n"
        "Device:\n"
        "  --tag XY                  identification tag (default TQ: a TQ734)\n"
        "  --version M.m             version reply fields (default 2.385)\n"
        "  --no-version-fields       version reply without fields (54 51 01)\n"
        "  --result N                finish reply result code 0..255 (default 0: success)\n"
        "Misbehaviour:\n"
        "  --silent-from-block K     no reply to anything once block K or later has arrived\n"
        "  --drop-acks P             drop a fraction P (0..1) of block acknowledgements\n"
        "  --corrupt P               corrupt a fraction P of replies (one bit flipped)\n"
        "  --duplicate-acks P        send a fraction P of acknowledgements twice\n"
        "  --split                   write replies one byte at a time\n"
        "  --noise P                 garbage before a fraction P of replies\n"
        "  --delay-ms D              delay every reply by D ms\n"
        "  --finish-after-block K    send the finish reply right after acknowledging block K\n"
        "  --unsolicited-id XY       send one identification reply with tag XY ...\n"
        "  --unsolicited-after-block K   ... right after acknowledging block K (default 0)\n"
        "  --wire-time               emulate 115,200 baud 8N1 in both directions\n"
        "  --seed S                  seed of the misbehaviour's random choices (default 1)\n"
        "\n"
        "Report lines: 't=<ms> rx ...' for every message received (identify request, version\n"
        "request, block N, block N retransmission interval=<ms>, finish length=L, final command,\n"
        "bad CRC, garbage), 't=<ms> tx ...' for every reply, then 'summary ...', 'final command:\n"
        "yes|no' and 'image: identical | incomplete | differs at offset X'.\n",
        out);
}

bool parse_tag(const char* s, uint8_t tag[2])
{
    if (std::strlen(s) != 2)
        return false;
    tag[0] = uint8_t(s[0]);
    tag[1] = uint8_t(s[1]);
    return true;
}

bool parse_fraction(const char* s, double& out)
{
    char* end = nullptr;
    out = std::strtod(s, &end);
    return end && *end == 0 && out >= 0 && out <= 1;
}

bool parse_number(const char* s, long& out, long max)
{
    char* end = nullptr;
    out = std::strtol(s, &end, 10);
    return end && *end == 0 && out >= 0 && out <= max;
}

bool parse_args(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        bool ok = true;
        auto take = [&]() { ++i; return v != nullptr; };
        if (a == "--help" || a == "-h") { usage(stdout); std::exit(0); }
        else if (a == "--link") ok = take() && (opt.link_path = v, true);
        else if (a == "--ready-file") ok = take() && (opt.ready_file = v, true);
        else if (a == "--report") ok = take() && (opt.report_path = v, true);
        else if (a == "--image") ok = take() && (opt.image_path = v, true);
        else if (a == "--timeout-s") ok = take() && parse_number(v, n, 86400) && (opt.timeout_s = double(n), true);
        else if (a == "--linger-ms") ok = take() && parse_number(v, n, 600000) && (opt.linger_ms = unsigned(n), true);
        else if (a == "--progress") opt.progress = true;
        else if (a == "--tag") ok = take() && parse_tag(v, opt.tag);
        else if (a == "--version") {
            unsigned M = 0, m = 0;
            ok = take() && std::sscanf(v, "%u.%u", &M, &m) == 2 && M <= 255 && m <= 65535;
            opt.major = M;
            opt.minor = m;
        }
        else if (a == "--no-version-fields") opt.version_fields = false;
        else if (a == "--result") ok = take() && parse_number(v, n, 255) && (opt.result = unsigned(n), true);
        else if (a == "--silent-from-block") ok = take() && parse_number(v, opt.silent_from, LAST_INDEX);
        else if (a == "--drop-acks") ok = take() && parse_fraction(v, opt.drop_acks);
        else if (a == "--corrupt") ok = take() && parse_fraction(v, opt.corrupt);
        else if (a == "--duplicate-acks") ok = take() && parse_fraction(v, opt.duplicate_acks);
        else if (a == "--split") opt.split = true;
        else if (a == "--noise") ok = take() && parse_fraction(v, opt.noise);
        else if (a == "--delay-ms") ok = take() && parse_number(v, n, 60000) && (opt.delay_ms = unsigned(n), true);
        else if (a == "--finish-after-block") ok = take() && parse_number(v, opt.finish_after, LAST_INDEX);
        else if (a == "--unsolicited-id") ok = take() && parse_tag(v, opt.unsolicited_tag) && (opt.unsolicited = true);
        else if (a == "--unsolicited-after-block") ok = take() && parse_number(v, opt.unsolicited_after, LAST_INDEX);
        else if (a == "--wire-time") opt.wire_time = true;
        else if (a == "--seed") ok = take() && parse_number(v, n, 0xFFFFFFFFL) && (opt.seed = uint32_t(n), true);
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "tq734_sim: bad option or value: %s\n", a.c_str());
            return false;
        }
    }
    if (opt.unsolicited && opt.unsolicited_after < 0)
        opt.unsolicited_after = 0;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!parse_args(argc, argv)) {
        usage(stderr);
        return 2;
    }
    rng_state = opt.seed ? opt.seed : 1;
    build_crc_table();
    start_ms = now_ms();
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);
    signal(SIGPIPE, SIG_IGN);
    if (!opt.report_path.empty()) {
        report = std::fopen(opt.report_path.c_str(), "w");
        if (!report) {
            std::perror(opt.report_path.c_str());
            return 1;
        }
        setvbuf(report, nullptr, _IOLBF, 0);
    }
    if (!open_pty()) {
        std::fprintf(stderr, "tq734_sim: cannot set up the pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const char* name = ptsname(master_fd);
    std::printf("READY %s\n", name);
    std::fflush(stdout);
    if (!opt.ready_file.empty()) {
        FILE* r = std::fopen(opt.ready_file.c_str(), "w");
        if (r) {
            std::fprintf(r, "READY %s\n", name);
            std::fclose(r);
        }
    }
    log_event("ready %s", name);

    const double deadline = start_ms + opt.timeout_s * 1000.0;
    while (!stop_requested) {
        double t = now_ms();
        if (t > deadline) {
            log_event("timeout");
            break;
        }
        if (final_seen && outbox.empty() && t - final_at_ms > opt.linger_ms)
            break;
        pollfd p = {master_fd, POLLIN, 0};
        int r = poll(&p, 1, next_timeout_ms());
        if (r > 0 && (p.revents & POLLIN))
            read_line();
        flush_outbox();
    }
    write_summary();
    if (!opt.link_path.empty())
        unlink(opt.link_path.c_str());
    if (report)
        std::fclose(report);
    return 0;
}
