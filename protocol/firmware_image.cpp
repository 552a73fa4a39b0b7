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
