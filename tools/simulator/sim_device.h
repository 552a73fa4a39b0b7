// What the device does with each request, and what it remembers for the summary.
#pragma once
#include <cstdint>

#include "sim_deframer.h"

constexpr uint32_t DEVICE_IMAGE_SIZE = 314912;
constexpr uint16_t DEVICE_LAST_BLOCK = 1230;
constexpr uint16_t DEVICE_BLOCK_SIZE = 256;
constexpr uint16_t DEVICE_TAIL_SIZE = 32;

// Loads the image the received blocks are compared with; false (and a message) if unusable.
bool device_load_expected_image(const char* path);
// Acts on one closed frame that arrived at now_us; with wire time its last byte
// finished crossing the line at wire_end_us (otherwise wire_end_us == now_us).
void device_on_frame(const DeframeResult& frame, int64_t now_us, int64_t wire_end_us);
// True once, right after the frame that should pull the line away (--unplug-at-block).
bool device_take_unplug();
// True once the device has stopped reading the line (--stop-reading-at-block).
bool device_stopped_reading();
// Whether the final command came, and when (us since start).
bool device_final_received(int64_t* when_us);
// Writes the summary lines (final command, counters, image comparison).
void device_write_summary();
