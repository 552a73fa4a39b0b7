// Replies on their way to the line: delays, pacing, single-byte writes, noise and corruption.
#pragma once
#include <cstdint>

// Where replies are written (the pty master, non-blocking); drops anything still queued.
void output_init(int fd);
// Seals the body with its CRC, frames it and queues it to start no earlier than not_before_us.
// May corrupt it or put noise before it, as the options ask; `what` names it in the report.
void output_queue_reply(const uint8_t* body, uint16_t length, const char* what, int64_t not_before_us);
// Writes whatever is due by now.
void output_flush(int64_t now_us);
// When output_flush has something to do next; -1 when nothing is queued.
int64_t output_next_due_us();
