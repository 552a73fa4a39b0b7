// The COM port while it is in use: open and configure, poll every 50 ms into a
// receive handler, write frames synchronously, close.
#pragma once
#include <cstdint>

// Bytes are valid only during the call; the next poll overwrites them.
using ReceiveHandler = void (*)(const uint8_t* bytes, uint16_t count);

constexpr unsigned CHANNEL_POLL_MS = 50;

// Opens channel 0 on COM<port> (1..255) at baud 8N1 (two stop bits when stop_bits > 1).
bool channel_open(uint8_t channel, uint8_t port, uint32_t baud, uint8_t stop_bits,
                  uint16_t receive_size, uint16_t transmit_size, ReceiveHandler handler);
// One synchronous write; false when the channel is closed or the write fails.
bool channel_write(uint8_t channel, const uint8_t* bytes, uint16_t length);
// Closes the channel; closing a closed channel does nothing.
void channel_close(uint8_t channel);
// True while the channel is open and its port is there (false while a lost port is being
// reopened, and when closed).
bool channel_port_present(uint8_t channel);
