#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "frame_helpers.h"

namespace {

// Bit-at-a-time CRC-16/XMODEM, independent of the table.
uint16_t bitwise_crc(const Bytes& data)
{
    uint16_t crc = 0;
    for (uint8_t b : data) {
        crc ^= uint16_t(b << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

Bytes ascii(const char* s) { return Bytes(s, s + std::strlen(s)); }

struct CrcVector {
    Bytes input;
    uint16_t crc;
};

TEST_F(ReceiverTest, CrcCheckValues)
{
    const CrcVector vectors[] = {
        {{}, 0x0000},
        {ascii("123456789"), 0x31C3},
        {ascii("IDID"), 0xE392},
        {{0x54, 0x51, 0x01}, 0xAFA1},
        {{0x54, 0x51, 0x03, 0x20, 0xCE, 0x04, 0x00}, 0x36CB},
        {{0x54, 0x51, 0x04, 0xAA}, 0x0E50},
    };
    for (const CrcVector& v : vectors)
        EXPECT_EQ(frame_crc(v.input.data(), uint16_t(v.input.size())), v.crc) << v.input.size() << " bytes";
}

TEST_F(ReceiverTest, CrcTableMatchesBitwiseDefinition)
{
    EXPECT_EQ(CrcTable[0], 0x0000);
    EXPECT_EQ(CrcTable[1], 0x1021);
    EXPECT_EQ(CrcTable[255], 0x1EF0);
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes data(rng() % 300);
        for (auto& b : data)
            b = uint8_t(rng());
        ASSERT_EQ(frame_crc(data.data(), uint16_t(data.size())), bitwise_crc(data));
    }
}

TEST_F(ReceiverTest, EncoderWorkedExample)
{
    Bytes sealed{0x49, 0x44, 0x49, 0x44, 0x92, 0xE3};
    Frame f = encode_frame(sealed.data(), uint16_t(sealed.size()));
    EXPECT_EQ(Bytes(f.bytes, f.bytes + f.length), (Bytes{0x7E, 0x49, 0x44, 0x49, 0x44, 0x92, 0xE3, 0x7E}));
}

TEST_F(ReceiverTest, EncoderEscapesWithoutFlippingBits)
{
    Bytes sealed{0x7E, 0x01, 0x65, 0x7D, 0x64};
    Frame f = encode_frame(sealed.data(), uint16_t(sealed.size()));
    EXPECT_EQ(Bytes(f.bytes, f.bytes + f.length),
              (Bytes{0x7E, 0x65, 0x7E, 0x01, 0x65, 0x65, 0x7D, 0x64, 0x7E}));
}

TEST_F(ReceiverTest, WorstCaseFrameFitsTheBuffer)
{
    Bytes sealed(263, 0x7E);
    Frame f = encode_frame(sealed.data(), 263);
    EXPECT_EQ(f.length, MAX_FRAME_SIZE);
    EXPECT_EQ(f.bytes[0], 0x7E);
    EXPECT_EQ(f.bytes[527], 0x7E);
}

// Flags and empty frames.
TEST_F(ReceiverTest, FlagsAloneYieldNothingAndRepeatedFlagsAreHarmless)
{
    EXPECT_TRUE(feed({0x7E, 0x7E}).empty());
    Bytes wire{0x7E, 0x7E, 0x7E, 0x49, 0x44, 0x49, 0x44, 0x92, 0xE3, 0x7E, 0x7E, 0x7E};
    auto out = feed(wire);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], ascii("IDID"));
}

TEST_F(ReceiverTest, BackToBackFramesShowTwoFlagsAndBothArrive)
{
    Bytes wire = frame_of(ascii("IDTQ"));
    Bytes second = frame_of({0x54, 0x51, 0x01, 0x02, 0x81, 0x01});
    wire.insert(wire.end(), second.begin(), second.end());
    auto out = feed(wire);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1], (Bytes{0x54, 0x51, 0x01, 0x02, 0x81, 0x01}));
}

TEST_F(ReceiverTest, OneOrTwoBytesBeforeAFlagAreDropped)
{
    EXPECT_TRUE(feed({0x7E, 0x01, 0x7E}).empty());
    EXPECT_TRUE(feed({0x01, 0x02, 0x7E}).empty());
    EXPECT_EQ(frame_receiver.length, 0);
}

// Escapes.
TEST_F(ReceiverTest, EscapedFlagIsDataAndFrameContinues)
{
    Bytes body{0x54, 0x51, 0x02, 0x7E, 0x00};
    auto out = feed(frame_of(body));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], body);
}

TEST_F(ReceiverTest, DoubleEscapeStoresOneEscapeByte)
{
    Bytes body{0x54, 0x51, 0x65, 0x65, 0x03};
    Bytes wire = frame_of(body);
    auto out = feed(wire);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], body);
}

TEST_F(ReceiverTest, CrcBytesThatNeedEscapingAreRestored)
{
    // Search bodies whose CRC low or high byte is a flag or escape byte.
    int low = 0, high = 0;
    for (uint32_t n = 0; n < 70000 && (low < 3 || high < 3); ++n) {
        Bytes body{0x54, 0x51, 0x02, uint8_t(n), uint8_t(n >> 8)};
        uint16_t crc = frame_crc(body.data(), 5);
        bool lo = (crc & 0xFF) == 0x7E || (crc & 0xFF) == 0x65;
        bool hi = (crc >> 8) == 0x7E || (crc >> 8) == 0x65;
        if (!lo && !hi)
            continue;
        low += lo;
        high += hi;
        reset_receiver();
        auto out = feed(frame_of(body));
        ASSERT_EQ(out.size(), 1u) << "n=" << n;
        EXPECT_EQ(out[0], body);
    }
    EXPECT_GE(low, 3);
    EXPECT_GE(high, 3);
}

TEST_F(ReceiverTest, CorruptedCrcIsDroppedSilently)
{
    Bytes wire = frame_of(ascii("IDTQ"));
    wire[2] ^= 0x01;
    EXPECT_TRUE(feed(wire).empty());
    EXPECT_EQ(feed(frame_of(ascii("IDTQ"))).size(), 1u);   // the next frame is unaffected
}

// Lengths.
TEST_F(ReceiverTest, ThreeAndFourCollectedBytesAreDroppedFiveDelivered)
{
    EXPECT_TRUE(feed(raw_frame(seal_bytes({0x54}))).empty());
    EXPECT_TRUE(feed(raw_frame(seal_bytes({0x54, 0x51}))).empty());
    auto out = feed(raw_frame(seal_bytes({0x54, 0x51, 0x01})));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].size(), 3u);
}

TEST_F(ReceiverTest, LargestCollectionOf262IsAccepted)
{
    Bytes body(260);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i * 7 + 1);
    auto out = feed(frame_of(body));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], body);
}

TEST_F(ReceiverTest, The263rdStoredByteResetsCollection)
{
    Bytes body(261, 0x11);   // 263 collected bytes with the CRC
    EXPECT_TRUE(feed(frame_of(body)).empty());
    EXPECT_EQ(frame_receiver.length, 0);
    // 263 bytes reset the collection; what follows starts a new one.
    reset_receiver();
    Bytes wire{0x7E};
    wire.insert(wire.end(), 263, 0x11);
    Bytes good = frame_of(ascii("IDTQ"));   // its opening flag would close the overflowed collection
    wire.insert(wire.end(), good.begin() + 1, good.end());
    auto out = feed(wire);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], ascii("IDTQ"));
}

TEST_F(ReceiverTest, SingleByteReadsEqualOneRead)
{
    Bytes body{0x54, 0x51, 0x02, 0x65, 0x7E, 0x01, 0x02};
    Bytes wire = frame_of(body);
    std::vector<Bytes> split;
    for (uint8_t b : wire) {
        auto part = feed({b});
        split.insert(split.end(), part.begin(), part.end());
    }
    ASSERT_EQ(split.size(), 1u);
    EXPECT_EQ(split[0], body);
}

TEST_F(ReceiverTest, ResetForgetsPartialFrameAndPendingEscape)
{
    feed({0x7E, 0x54, 0x51, 0x65});
    reset_receiver();
    EXPECT_EQ(frame_receiver.length, 0);
    EXPECT_EQ(frame_receiver.escape_pending, 0);
    // After the reset a flag closes nothing and a frame arrives whole.
    EXPECT_EQ(feed(frame_of(ascii("IDTQ"))).size(), 1u);
}

}  // namespace
