// The device's side of the framing: collects the updater's frames, 263-byte block writes included.
#pragma once
#include <cstdint>

// Far above the largest request (a 263-byte sealed block write), so an oversized
// request shows up in the report instead of vanishing.
constexpr uint16_t DEVICE_COLLECT_LIMIT = 1024;

enum DeframeKind {
    DEFRAME_NOTHING,   // byte consumed, no frame closed
    DEFRAME_MESSAGE,   // CRC-correct body
    DEFRAME_BAD_CRC,   // 3 or more bytes whose CRC does not match
    DEFRAME_GARBAGE,   // 1 or 2 bytes between flags
    DEFRAME_OVERFLOW,  // more than DEVICE_COLLECT_LIMIT bytes without a flag
};

struct DeframeResult {
    DeframeKind kind;
    const uint8_t* body;  // DEFRAME_MESSAGE: the body (CRC stripped), valid until the next byte
    uint16_t length;      // body length, or the number of bytes dropped
};

// Forgets any partly collected frame.
void deframer_reset();
// Feeds one byte from the line.
DeframeResult deframe_byte(uint8_t b);
