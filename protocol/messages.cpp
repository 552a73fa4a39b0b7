// Request builders and the reply classifier.
#include "messages.h"

#include <cstring>

#include "firmware_image.h"
#include "frame_codec.h"

namespace {
constexpr uint8_t SIG0 = 0x54;   // 'T'
constexpr uint8_t SIG1 = 0x51;   // 'Q'
constexpr uint8_t TYPE_VERSION = 0x01;
constexpr uint8_t TYPE_BLOCK = 0x02;
constexpr uint8_t TYPE_FINISH = 0x03;
constexpr uint8_t TYPE_FINAL = 0x04;
}

// Appends frame_crc of the body, low byte first.
static SealedMessage seal(const uint8_t* body, uint16_t length)
{
    SealedMessage m;
    std::memcpy(m.bytes, body, length);
    uint16_t crc = frame_crc(body, length);
    m.bytes[length] = uint8_t(crc & 0xFF);
    m.bytes[length + 1] = uint8_t(crc >> 8);
    m.length = uint16_t(length + 2);
    return m;
}

SealedMessage make_identify_request()
{
    const uint8_t body[] = {'I', 'D', 'I', 'D'};
    return seal(body, sizeof body);
}

SealedMessage make_version_request()
{
    const uint8_t body[] = {SIG0, SIG1, TYPE_VERSION};
    return seal(body, sizeof body);
}

SealedMessage make_block_write(uint16_t index)
{
    uint8_t body[5 + BLOCK_SIZE] = {SIG0, SIG1, TYPE_BLOCK, uint8_t(index & 0xFF), uint8_t(index >> 8)};
    ImageBlock block = image_block(index);
    std::memcpy(body + 5, block.bytes, BLOCK_SIZE);
    return seal(body, sizeof body);
}

SealedMessage make_finish_request()
{
    const uint8_t body[] = {SIG0, SIG1, TYPE_FINISH,
                            uint8_t(IMAGE_SIZE & 0xFF), uint8_t((IMAGE_SIZE >> 8) & 0xFF),
                            uint8_t((IMAGE_SIZE >> 16) & 0xFF), uint8_t(IMAGE_SIZE >> 24)};
    return seal(body, sizeof body);
}

SealedMessage make_final_command()
{
    const uint8_t body[] = {SIG0, SIG1, TYPE_FINAL, 0xAA};
    return seal(body, sizeof body);
}

bool is_tq734(const Reply& reply)
{
    return reply.kind == ReplyKind::IdentifyReply && reply.device_tag[0] == SIG0 && reply.device_tag[1] == SIG1;
}

// Checks in a fixed order; every byte read is guarded by the length first.
Reply classify_reply(const uint8_t* body, uint16_t length)
{
    Reply r{};
    r.kind = ReplyKind::Ignored;
    if (body == nullptr || length < 3)
        return r;
    if (body[0] == 'I') {
        if (body[1] == 'D' && length >= 4) {
            r.kind = ReplyKind::IdentifyReply;
            r.device_tag[0] = body[2];
            r.device_tag[1] = body[3];
        }
        return r;
    }
    if (body[0] != SIG0 || body[1] != SIG1)
        return r;
    switch (body[2]) {
    case TYPE_VERSION:
        r.kind = ReplyKind::VersionReply;
        if (length >= 6) {
            r.has_version = true;
            r.major = body[3];
            r.minor = uint16_t(body[4] | (body[5] << 8));
        }
        break;
    case TYPE_BLOCK:
        if (length >= 5) {
            r.kind = ReplyKind::BlockAck;
            r.block_index = uint16_t(body[3] | (body[4] << 8));
        }
        break;
    case TYPE_FINISH:
        if (length >= 4) {
            r.kind = ReplyKind::FinishReply;
            r.result_code = body[3];
        }
        break;
    default:
        break;
    }
    return r;
}
