// Writes the deterministic placeholder firmware image: the device's ASCII header,
// then opaque pseudo-random bytes rich in 0x7E and 0x65 so every transfer exercises escaping.
// Usage: make_placeholder_image OUTPUT
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {
constexpr uint32_t IMAGE_BYTES = 314912;
const char HEADER_TYPE[] = "TypFirmware=TQ734_CPU2_PLACEHOLDER";
const char HEADER_CRC[] = "CRC_FIRMWARE=";

// CRC-32 (IEEE 802.3, reflected) of the bytes that follow the header.
uint32_t crc32(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t next_random(uint32_t& s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> image;
    for (const char* p = HEADER_TYPE; *p; ++p)
        image.push_back(uint8_t(*p));
    for (const char* p = HEADER_CRC; *p; ++p)
        image.push_back(uint8_t(*p));
    size_t crc_at = image.size();
    image.resize(crc_at + 4);

    uint32_t seed = 0x7E65A5C3u;
    while (image.size() < IMAGE_BYTES) {
        uint32_t r = next_random(seed);
        switch (r & 7) {
        case 0: image.push_back(0x7E); break;
        case 1: image.push_back(0x65); break;
        default: image.push_back(uint8_t(r >> 24)); break;
        }
    }
    uint32_t crc = crc32(image.data() + crc_at + 4, image.size() - crc_at - 4);
    for (int i = 0; i < 4; ++i)
        image[crc_at + i] = uint8_t(crc >> (8 * i));

    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
