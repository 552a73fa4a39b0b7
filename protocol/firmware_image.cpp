// Block access to the built-in image.
#include "firmware_image.h"

#include <cstring>

// Full blocks are copied as they stand; the tail block is the last 32 bytes and zeros.
ImageBlock image_block(uint16_t index)
{
    ImageBlock block;
    std::memset(block.bytes, 0, sizeof block.bytes);
    if (index > LAST_BLOCK)
        return block;
    uint32_t offset = uint32_t(index) * BLOCK_SIZE;
    uint32_t count = index == LAST_BLOCK ? TAIL_SIZE : BLOCK_SIZE;
    std::memcpy(block.bytes, FirmwareImage + offset, count);
    return block;
}

const char FIRMWARE_SHA256[] = TQ_FIRMWARE_SHA256;

// Printable characters up to "CRC_FIRMWARE=", which the device reads; the updater only reports them.
bool firmware_header(char* type_name, unsigned capacity, uint32_t* crc)
{
    static const char TYPE[] = "TypFirmware=";
    static const char CRC[] = "CRC_FIRMWARE=";
    const char* image = reinterpret_cast<const char*>(FirmwareImage);
    unsigned at = sizeof TYPE - 1;
    if (capacity == 0 || std::memcmp(image, TYPE, at) != 0)
        return false;
    for (unsigned n = 0; n + 1 < capacity; ++n, ++at) {
        if (std::memcmp(image + at, CRC, sizeof CRC - 1) == 0) {
            const uint8_t* value = FirmwareImage + at + sizeof CRC - 1;
            *crc = uint32_t(value[0]) | uint32_t(value[1]) << 8 | uint32_t(value[2]) << 16 | uint32_t(value[3]) << 24;
            type_name[n] = 0;
            return n > 0;
        }
        if (image[at] < 0x21 || image[at] > 0x7E)
            return false;
        type_name[n] = image[at];
    }
    return false;
}
