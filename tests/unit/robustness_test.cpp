#include <gtest/gtest.h>

#include <random>

#include "frame_helpers.h"
#include "messages.h"

namespace {

struct Robustness : ReceiverTest {};

// Whatever comes out must classify without fault.
void classify_all(const std::vector<Bytes>& bodies)
{
    for (const Bytes& b : bodies) {
        ASSERT_GE(b.size(), 3u);
        ASSERT_LE(b.size(), 260u);
        classify_reply(b.data(), uint16_t(b.size()));
    }
}

TEST_F(Robustness, MillionsOfRandomBytes)
{
    std::mt19937 rng(12345);
    // Skewed towards flags and escapes so that every path of the receiver is taken.
    Bytes chunk(1 << 16);
    size_t delivered = 0;
    for (int round = 0; round < 48; ++round) {
        for (auto& b : chunk) {
            uint32_t r = rng();
            b = (r & 15) == 0 ? 0x7E : (r & 15) == 1 ? 0x65 : uint8_t(r >> 8);
        }
        auto out = feed(chunk);
        classify_all(out);
        delivered += out.size();
        ASSERT_LE(frame_receiver.length, MAX_COLLECTED);
    }
    // A random collection passes the CRC about once in 65,536; the count is only a sanity bound.
    EXPECT_LT(delivered, 200u);
}

TEST_F(Robustness, ValidFramesSurviveInterleavedGarbage)
{
    std::mt19937 rng(99);
    Bytes wire;
    std::vector<Bytes> sent;
    for (int i = 0; i < 3000; ++i) {
        size_t garbage = rng() % 600;
        for (size_t k = 0; k < garbage; ++k) {
            uint32_t r = rng();
            wire.push_back((r & 7) == 0 ? 0x7E : (r & 7) == 1 ? 0x65 : uint8_t(r >> 8));
        }
        // Garbage that ends in an escape would swallow the next opening flag: that frame is touched.
        if (!wire.empty() && wire.back() == 0x65)
            wire.push_back(0x00);
        Bytes body(3 + rng() % 258);
        for (auto& b : body)
            b = uint8_t(rng());
        sent.push_back(body);
        Bytes f = frame_of(body);
        wire.insert(wire.end(), f.begin(), f.end());
    }
    auto out = feed(wire);
    classify_all(out);
    // Every sent frame comes out, in order; stray garbage frames may sit between them.
    size_t next = 0;
    for (const Bytes& b : out)
        if (next < sent.size() && b == sent[next])
            ++next;
    EXPECT_EQ(next, sent.size());
}

TEST_F(Robustness, ClassifierOverEveryShortBody)
{
    // Of all 3-byte bodies only a version reply without fields is recognised.
    for (uint32_t v = 0; v < (1u << 24); v += 1) {
        uint8_t body[3] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
        Reply r = classify_reply(body, 3);
        if (r.kind != ReplyKind::Ignored) {
            ASSERT_TRUE(body[0] == 0x54 && body[1] == 0x51 && body[2] == 0x01) << v;
        }
    }
}

}  // namespace
