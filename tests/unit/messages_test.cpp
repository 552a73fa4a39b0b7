#include <gtest/gtest.h>

#include <cstring>

#include "firmware_image.h"
#include "frame_helpers.h"
#include "messages.h"

namespace {

Bytes wire_of(const SealedMessage& m)
{
    Frame f = encode_frame(m.bytes, m.length);
    return Bytes(f.bytes, f.bytes + f.length);
}

struct Messages : ReceiverTest {};

TEST_F(Messages, WorkedFrames)
{
    EXPECT_EQ(wire_of(make_identify_request()), (Bytes{0x7E, 0x49, 0x44, 0x49, 0x44, 0x92, 0xE3, 0x7E}));
    EXPECT_EQ(wire_of(make_version_request()), (Bytes{0x7E, 0x54, 0x51, 0x01, 0xA1, 0xAF, 0x7E}));
    EXPECT_EQ(wire_of(make_finish_request()),
              (Bytes{0x7E, 0x54, 0x51, 0x03, 0x20, 0xCE, 0x04, 0x00, 0xCB, 0x36, 0x7E}));
    EXPECT_EQ(wire_of(make_final_command()), (Bytes{0x7E, 0x54, 0x51, 0x04, 0xAA, 0x50, 0x0E, 0x7E}));
}

TEST_F(Messages, SealedLengths)
{
    EXPECT_EQ(make_identify_request().length, 6);
    EXPECT_EQ(make_version_request().length, 5);
    EXPECT_EQ(make_block_write(0).length, 263);
    EXPECT_EQ(make_finish_request().length, 9);
    EXPECT_EQ(make_final_command().length, 6);
}

TEST_F(Messages, BlockWriteFiveCarriesImageBytes1280To1535)
{
    SealedMessage m = make_block_write(5);
    EXPECT_EQ(Bytes(m.bytes, m.bytes + 5), (Bytes{0x54, 0x51, 0x02, 0x05, 0x00}));
    EXPECT_EQ(std::memcmp(m.bytes + 5, FirmwareImage + 1280, 256), 0);
    uint16_t crc = frame_crc(m.bytes, 261);
    EXPECT_EQ(m.bytes[261], crc & 0xFF);
    EXPECT_EQ(m.bytes[262], crc >> 8);
}

TEST_F(Messages, LastBlockIndexReadsCE04)
{
    SealedMessage m = make_block_write(1230);
    EXPECT_EQ(m.bytes[3], 0xCE);
    EXPECT_EQ(m.bytes[4], 0x04);
    EXPECT_EQ(std::memcmp(m.bytes + 5, FirmwareImage + 314880, 32), 0);
    for (int k = 5 + 32; k < 261; ++k)
        ASSERT_EQ(m.bytes[k], 0);
}

// Undoes the framing by the wire rules alone: flags at both ends, 0x65 escapes the next byte.
bool unframe(const Bytes& wire, Bytes& sealed)
{
    sealed.clear();
    if (wire.size() < 2 || wire.front() != 0x7E || wire.back() != 0x7E)
        return false;
    for (size_t i = 1; i + 1 < wire.size(); ++i) {
        if (wire[i] == 0x7E)
            return false;
        if (wire[i] == 0x65) {
            ++i;
            if (i + 1 >= wire.size())
                return false;
        }
        sealed.push_back(wire[i]);
    }
    return true;
}

TEST_F(Messages, EveryBlockWriteFrameUnframesToItsBody)
{
    Bytes sealed;
    for (uint16_t i = 0; i <= LAST_BLOCK; ++i) {
        SealedMessage m = make_block_write(i);
        ASSERT_TRUE(unframe(wire_of(m), sealed)) << "block " << i;
        ASSERT_EQ(sealed, Bytes(m.bytes, m.bytes + 263)) << "block " << i;
        ASSERT_EQ(sealed[3] | (sealed[4] << 8), i);
        ASSERT_EQ(frame_crc(sealed.data(), 261), sealed[261] | (sealed[262] << 8));
    }
}

TEST_F(Messages, UpdaterReceiverDropsBlockWriteSizedFrames)
{
    // Replies are short; the updater's receiver holds at most 262 collected bytes,
    // so a 263-byte sealed block write is dropped rather than delivered.
    EXPECT_TRUE(feed(wire_of(make_block_write(0))).empty());
    EXPECT_EQ(feed(wire_of(make_version_request())).size(), 1u);
}

struct Classified {
    Bytes body;
    ReplyKind kind;
};

TEST_F(Messages, ClassifierKinds)
{
    const Classified table[] = {
        {{'I', 'D', 'T', 'Q'}, ReplyKind::IdentifyReply},
        {{'I', 'D', 'X', 'Y', 0x00}, ReplyKind::IdentifyReply},
        {{'I', 'D', 'T'}, ReplyKind::Ignored},
        {{'I', 'E', 'T', 'Q'}, ReplyKind::Ignored},
        {{0x54, 0x51, 0x01}, ReplyKind::VersionReply},
        {{0x54, 0x51, 0x01, 0x02, 0x81}, ReplyKind::VersionReply},
        {{0x54, 0x51, 0x01, 0x02, 0x81, 0x01}, ReplyKind::VersionReply},
        {{0x54, 0x51, 0x02, 0x05}, ReplyKind::Ignored},
        {{0x54, 0x51, 0x02, 0x05, 0x00}, ReplyKind::BlockAck},
        {{0x54, 0x51, 0x03}, ReplyKind::Ignored},
        {{0x54, 0x51, 0x03, 0x00}, ReplyKind::FinishReply},
        {{0x54, 0x51, 0x03, 0x00, 0x99, 0x98}, ReplyKind::FinishReply},
        {{0x54, 0x51, 0x04, 0xAA}, ReplyKind::Ignored},
        {{0x54, 0x51, 0x00, 0x00, 0x00}, ReplyKind::Ignored},
        {{0x54, 0x51, 0xFF, 0x00, 0x00}, ReplyKind::Ignored},
        {{0x54, 0x52, 0x01, 0x02, 0x81, 0x01}, ReplyKind::Ignored},
        {{0x55, 0x51, 0x01}, ReplyKind::Ignored},
        {{0x00, 0x00, 0x00, 0x00}, ReplyKind::Ignored},
        {{'i', 'd', 'T', 'Q'}, ReplyKind::Ignored},
    };
    for (const Classified& c : table) {
        Reply r = classify_reply(c.body.data(), uint16_t(c.body.size()));
        EXPECT_EQ(int(r.kind), int(c.kind)) << ::testing::PrintToString(c.body);
    }
}

TEST_F(Messages, ClassifierFields)
{
    Bytes tq{'I', 'D', 'T', 'Q'};
    Reply r = classify_reply(tq.data(), 4);
    EXPECT_TRUE(is_tq734(r));
    Bytes other{'I', 'D', 'T', 'R'};
    r = classify_reply(other.data(), 4);
    EXPECT_EQ(r.kind, ReplyKind::IdentifyReply);
    EXPECT_FALSE(is_tq734(r));

    Bytes version{0x54, 0x51, 0x01, 0x02, 0x81, 0x01};
    r = classify_reply(version.data(), 6);
    EXPECT_TRUE(r.has_version);
    EXPECT_EQ(r.major, 2);
    EXPECT_EQ(r.minor, 385);
    r = classify_reply(version.data(), 5);
    EXPECT_FALSE(r.has_version);
    r = classify_reply(version.data(), 3);
    EXPECT_FALSE(r.has_version);

    Bytes ack{0x54, 0x51, 0x02, 0xCE, 0x04};
    r = classify_reply(ack.data(), 5);
    EXPECT_EQ(r.block_index, 1230);

    Bytes finish{0x54, 0x51, 0x03, 0x0B, 0x00};
    r = classify_reply(finish.data(), 5);
    EXPECT_EQ(r.result_code, 11);
}

TEST_F(Messages, ClassifierNeverReadsPastTheLength)
{
    // Each body sits at the very end of a heap block, so a read past L trips the sanitizer.
    const Bytes prefixes[] = {{'I', 'D', 'T', 'Q'}, {0x54, 0x51, 0x01, 0x02, 0x81, 0x01},
                              {0x54, 0x51, 0x02, 0x01, 0x00}, {0x54, 0x51, 0x03, 0x00}};
    for (const Bytes& full : prefixes) {
        for (size_t len = 0; len <= full.size(); ++len) {
            uint8_t* block = new uint8_t[len ? len : 1];
            std::memcpy(block, full.data(), len);
            Reply r = classify_reply(block, uint16_t(len));
            (void)r;
            delete[] block;
        }
    }
    EXPECT_EQ(classify_reply(nullptr, 0).kind, ReplyKind::Ignored);
}

}  // namespace
