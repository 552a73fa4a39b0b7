// The device's side of the line in the tests: replies built from literal bodies, and
// the updater's frames taken apart without the updater's own builders.
#pragma once
#include "fake_host.h"

// The updater's requests as they must appear on the wire.
extern const Bytes WIRE_IDENTIFY;
extern const Bytes WIRE_VERSION_REQUEST;
extern const Bytes WIRE_FINISH_REQUEST;
extern const Bytes WIRE_FINAL_COMMAND;

// A device reply: the literal body, its CRC low byte first, framed.
Bytes device_frame(const Bytes& body);
Bytes ack_frame(unsigned index);
Bytes finish_reply_frame(uint8_t result);
// Concatenation of frames into one read.
Bytes joined(const std::vector<Bytes>& frames);
// Hands one read to the engine, as the channel's poll does.
void deliver(const Bytes& read);

// Unescaped body of a written frame; empty when flags or CRC are wrong.
Bytes sent_body(const Bytes& frame);
// Block index of a written block write, or -1 when the frame is something else.
int sent_block_index(const Bytes& frame);
