// libFuzzer target: arbitrary line bytes through the frame receiver and the reply classifier.
// Whatever arrives, nothing is read or written outside the buffers, every delivered body
// carries a correct CRC and a length of 3..260, and classification agrees with the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "frame_codec.h"
#include "messages.h"

namespace {
void check(bool ok)
{
    if (!ok)
        std::abort();
}

void check_reply(const uint8_t* body, uint16_t length)
{
    Reply r = classify_reply(body, length);
    switch (r.kind) {
    case ReplyKind::IdentifyReply:
        check(length >= 4 && body[0] == 'I' && body[1] == 'D');
        break;
    case ReplyKind::VersionReply:
        check(body[0] == 0x54 && body[1] == 0x51 && body[2] == 0x01 && r.has_version == (length >= 6));
        break;
    case ReplyKind::BlockAck:
        check(length >= 5 && body[2] == 0x02 && r.block_index == (body[3] | body[4] << 8));
        break;
    case ReplyKind::FinishReply:
        check(length >= 4 && body[2] == 0x03 && r.result_code == body[3]);
        break;
    case ReplyKind::Ignored:
        break;
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = false;
    if (!ready) {
        build_crc_table();
        ready = true;
    }
    reset_receiver();
    for (size_t i = 0; i < size; ++i) {
        ReceivedMessage m = receive_byte(data[i]);
        check(frame_receiver.length <= MAX_COLLECTED);
        if (!m.body)
            continue;
        check(m.length >= 3 && m.length <= 260);
        const uint8_t* crc = m.body + m.length;
        check(frame_crc(m.body, m.length) == (crc[0] | crc[1] << 8));
        check_reply(m.body, m.length);
    }
    // The classifier alone, on the raw input as a body of any length (0 included).
    check_reply(data, uint16_t(size > 65535 ? 65535 : size));
    return 0;
}
