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

constexpr unsigned TYPE_NAME_CAPACITY = 64;

// The type name after "TypFirmware=" and the four bytes after "CRC_FIRMWARE=" (low byte
// first) from the image's header; false when the image has no such header.
bool firmware_header(char* type_name, unsigned capacity, uint32_t* crc);
// The image's SHA-256 in lower-case hex, computed by the build from the same file.
extern const char FIRMWARE_SHA256[];
