// Every request the updater sends and every device reply it understands.
#pragma once
#include <cstdint>

constexpr uint16_t MAX_SEALED_SIZE = 263;

// Body followed by frame_crc(body), low byte first.
struct SealedMessage {
    uint8_t bytes[MAX_SEALED_SIZE];
    uint16_t length;
};

SealedMessage make_identify_request();
SealedMessage make_version_request();
SealedMessage make_block_write(uint16_t index);
SealedMessage make_finish_request();
SealedMessage make_final_command();

enum class ReplyKind : uint8_t { Ignored, IdentifyReply, VersionReply, BlockAck, FinishReply };

struct Reply {
    ReplyKind kind;
    uint8_t device_tag[2];   // IdentifyReply
    bool has_version;        // VersionReply
    uint8_t major;           // VersionReply with fields
    uint16_t minor;          // VersionReply with fields
    uint16_t block_index;    // BlockAck
    uint8_t result_code;     // FinishReply
};

// True when an IdentifyReply names a TQ734 (tag "TQ").
bool is_tq734(const Reply& reply);
// Classifies a CRC-checked body of length L; never reads past body[L - 1].
Reply classify_reply(const uint8_t* body, uint16_t length);
