#include <gtest/gtest.h>

#include <cstring>

#include "firmware_image.h"

namespace {

TEST(FirmwareImage, StartsWithTheDeviceHeader)
{
    EXPECT_EQ(std::memcmp(FirmwareImage, "TypFirmware=", 12), 0);
    ImageBlock b0 = image_block(0);
    EXPECT_EQ(std::memcmp(b0.bytes, "TypFirmware=", 12), 0);
}

TEST(FirmwareImage, BlocksCoverTheImageExactlyOnceAndTheTailIsZeroPadded)
{
    uint32_t covered = 0;
    for (uint16_t i = 0; i < LAST_BLOCK; ++i) {
        ImageBlock b = image_block(i);
        ASSERT_EQ(std::memcmp(b.bytes, FirmwareImage + uint32_t(i) * 256, 256), 0) << "block " << i;
        covered += 256;
    }
    ImageBlock tail = image_block(LAST_BLOCK);
    EXPECT_EQ(std::memcmp(tail.bytes, FirmwareImage + 314880, 32), 0);
    for (int k = 32; k < 256; ++k)
        ASSERT_EQ(tail.bytes[k], 0) << k;
    covered += 32;
    EXPECT_EQ(covered, IMAGE_SIZE);
    EXPECT_EQ(IMAGE_SIZE, 314912u);
}

TEST(FirmwareImage, Block1229EndsJustBeforeTheTail)
{
    ImageBlock b = image_block(1229);
    EXPECT_EQ(std::memcmp(b.bytes, FirmwareImage + 314880 - 256, 256), 0);
}

TEST(FirmwareImage, PlaceholderExercisesEscaping)
{
    // Every block of the placeholder should hold bytes that need escaping.
    unsigned flags = 0, escapes = 0;
    for (uint32_t i = 0; i < IMAGE_SIZE; ++i) {
        flags += FirmwareImage[i] == 0x7E;
        escapes += FirmwareImage[i] == 0x65;
    }
    EXPECT_GT(flags, IMAGE_SIZE / 20);
    EXPECT_GT(escapes, IMAGE_SIZE / 20);
}

}  // namespace
