// FIFO of framed replies written to the pty; nothing is reordered.
#include "sim_output.h"

#include <cerrno>
#include <deque>
#include <string>
#include <unistd.h>
#include <vector>

#include "frame_codec.h"
#include "sim_clock.h"
#include "sim_options.h"
#include "sim_random.h"
#include "sim_report.h"

struct PendingWrite {
    std::vector<uint8_t> bytes;
    std::string what;
    int64_t not_before_us;
    bool started;
    int64_t start_us;    // wire time: when the first byte starts crossing the line
    int64_t next_us;     // when the next write may happen
    size_t sent;
};

static int output_fd = -1;
static std::deque<PendingWrite> output_queue;
// Wire time: when the line is free again after the bytes already written.
static int64_t line_free_us = 0;

void output_init(int fd)
{
    output_fd = fd;
    // Replies still queued for a line that was pulled away go with it.
    output_queue.clear();
}

// Appends one write to the queue.
static void enqueue(std::vector<uint8_t> bytes, std::string what, int64_t not_before_us)
{
    PendingWrite w;
    w.bytes = std::move(bytes);
    w.what = std::move(what);
    w.not_before_us = not_before_us;
    w.started = false;
    w.start_us = 0;
    w.next_us = not_before_us;
    w.sent = 0;
    output_queue.push_back(std::move(w));
}

// 1..12 random bytes that cannot swallow the flag of the frame after them.
static std::vector<uint8_t> make_noise()
{
    std::vector<uint8_t> noise(1 + random_below(12));
    for (uint8_t& b : noise)
        b = uint8_t(random_below(256));
    while (noise.back() == FRAME_ESCAPE)
        noise.back() = uint8_t(random_below(256));
    return noise;
}

void output_queue_reply(const uint8_t* body, uint16_t length, const char* what, int64_t not_before_us)
{
    uint8_t sealed[300];
    if (length > sizeof sealed - 2)
        return;
    for (uint16_t i = 0; i < length; ++i)
        sealed[i] = body[i];
    uint16_t crc = frame_crc(body, length);
    sealed[length] = uint8_t(crc & 0xFF);
    sealed[length + 1] = uint8_t(crc >> 8);
    uint16_t sealed_length = uint16_t(length + 2);

    std::string name = what;
    if (random_chance(sim_options.noise)) {
        std::vector<uint8_t> noise = make_noise();
        std::string noise_name = "noise " + std::to_string(noise.size()) + " bytes";
        enqueue(std::move(noise), noise_name, not_before_us);
    }
    if (random_chance(sim_options.corrupt)) {
        // Any single changed byte fails the CRC-16, so the updater must drop this reply.
        uint16_t at = uint16_t(random_below(sealed_length));
        sealed[at] = uint8_t(sealed[at] ^ (1 + random_below(255)));
        name += " corrupted at byte " + std::to_string(at);
    }
    Frame f = encode_frame(sealed, sealed_length);
    enqueue(std::vector<uint8_t>(f.bytes, f.bytes + f.length), name, not_before_us);
}

// Time between two written bytes of one reply (0: no pacing).
static int64_t byte_step_us()
{
    double step = sim_options.wire_time ? WIRE_BYTE_US : 0;
    if (sim_options.split && sim_options.split_gap_ms * 1000.0 > step)
        step = sim_options.split_gap_ms * 1000.0;
    return int64_t(step);
}

// How many bytes of w may have been written by now.
static size_t bytes_due(const PendingWrite& w, int64_t now_us)
{
    if (sim_options.split)
        return now_us >= w.next_us ? w.sent + 1 : w.sent;
    if (!sim_options.wire_time)
        return w.bytes.size();
    // Byte k reaches the other end when its 10 bits have crossed the line.
    double elapsed = double(now_us - w.start_us);
    if (elapsed < WIRE_BYTE_US)
        return 0;
    size_t n = size_t(elapsed / WIRE_BYTE_US);
    return n < w.bytes.size() ? n : w.bytes.size();
}

void output_flush(int64_t now_us)
{
    while (!output_queue.empty()) {
        PendingWrite& w = output_queue.front();
        if (!w.started) {
            int64_t start = w.not_before_us;
            if (sim_options.wire_time && line_free_us > start)
                start = line_free_us;
            if (now_us < start)
                return;
            w.started = true;
            w.start_us = start;
            w.next_us = now_us;
            report_event(now_us, "tx %s", w.what.c_str());
        }
        size_t due = bytes_due(w, now_us);
        if (due > w.bytes.size())
            due = w.bytes.size();
        if (due > w.sent) {
            ssize_t n = write(output_fd, w.bytes.data() + w.sent, due - w.sent);
            if (n < 0) {
                // The other side is not reading (or not there): try again shortly.
                w.next_us = now_us + 5000;
                return;
            }
            w.sent += size_t(n);
            if (sim_options.split)
                w.next_us = now_us + byte_step_us();
        }
        if (w.sent < w.bytes.size()) {
            if (!sim_options.split)
                w.next_us = sim_options.wire_time
                    ? w.start_us + int64_t(double(w.sent + 1) * WIRE_BYTE_US)
                    : now_us + 1000;
            return;
        }
        if (sim_options.wire_time) {
            int64_t end = w.start_us + int64_t(double(w.bytes.size()) * WIRE_BYTE_US);
            line_free_us = end > now_us ? end : now_us;
        }
        output_queue.pop_front();
    }
}

int64_t output_next_due_us()
{
    if (output_queue.empty())
        return -1;
    const PendingWrite& w = output_queue.front();
    if (!w.started) {
        int64_t start = w.not_before_us;
        if (sim_options.wire_time && line_free_us > start)
            start = line_free_us;
        return start;
    }
    return w.next_us;
}
