// The one firmware image built into the program and its division into blocks.
#pragma once
#include <cstdint>

constexpr uint32_t IMAGE_SIZE = 314912;
constexpr uint16_t BLOCK_SIZE = 256;
constexpr uint16_t LAST_BLOCK = 1230;
constexpr uint16_t TAIL_SIZE = 32;
constexpr uint16_t BLOCK_COUNT = LAST_BLOCK + 1;

static_assert(uint32_t(LAST_BLOCK) * BLOCK_SIZE + TAIL_SIZE == IMAGE_SIZE, "blocks cover the image exactly once");

struct ImageBlock {
    uint8_t bytes[BLOCK_SIZE];
};

// The image bytes, linked in from resources/firmware.bin.
extern "C" const uint8_t FirmwareImage[IMAGE_SIZE] __asm__("tq734_firmware_image");

// Block index (0..LAST_BLOCK); the tail block is zero-padded to 256 bytes.
ImageBlock image_block(uint16_t index);
