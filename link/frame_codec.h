// Frames on the serial line: 0x7E flags, 0x65 escapes, CRC-16/XMODEM low byte first.
#pragma once
#include <cstdint>

constexpr uint8_t FRAME_FLAG = 0x7E;
constexpr uint8_t FRAME_ESCAPE = 0x65;
constexpr uint16_t RECEIVE_BUFFER_SIZE = 263;
constexpr uint16_t MAX_COLLECTED = 262;
// A 263-byte sealed block write with every byte escaped, plus both flags.
constexpr uint16_t MAX_FRAME_SIZE = 528;

extern uint16_t CrcTable[256];

struct FrameReceiver {
    uint8_t buffer[RECEIVE_BUFFER_SIZE];
    uint16_t length;
    uint8_t escape_pending;
};
extern FrameReceiver frame_receiver;

struct Frame {
    uint8_t bytes[MAX_FRAME_SIZE];
    uint16_t length;
};

// A message body delivered by the receiver; body is null when no message came out.
struct ReceivedMessage {
    const uint8_t* body;
    uint16_t length;
};

// Fills CrcTable; must run before any CRC is computed.
void build_crc_table();
// CRC-16 over length bytes (0 for an empty input).
uint16_t frame_crc(const uint8_t* bytes, uint16_t length);
// Wraps a sealed message (body + CRC) in flags and escapes; length must be 1..263.
Frame encode_frame(const uint8_t* sealed, uint16_t length);
// Forgets any partly collected frame.
void reset_receiver();
// Feeds one line byte; yields a CRC-checked body when a frame closes. The body
// stays valid until the next call of receive_byte or reset_receiver.
ReceivedMessage receive_byte(uint8_t b);
