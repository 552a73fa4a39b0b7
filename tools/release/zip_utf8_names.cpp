// Marks the non-ASCII (UTF-8) entry names of a zip archive as UTF-8 (general-purpose flag bit
// 11, in the central directory and the local headers), so that Windows shows "ИНСТРУКЦИЯ.html"
// instead of reading the name in the OEM code page. Also refuses archives with extra fields,
// whose contents (times, owners) would make the release depend on the machine.
//   zip_utf8_names ZIP        exit code 0 done, 1 malformed or with extra fields, 2 bad usage
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint16_t UTF8_NAMES = 0x0800;

uint16_t u16(const std::vector<uint8_t>& z, size_t at)
{
    return uint16_t(z[at] | z[at + 1] << 8);
}

uint32_t u32(const std::vector<uint8_t>& z, size_t at)
{
    return uint32_t(u16(z, at)) | uint32_t(u16(z, at + 2)) << 16;
}

void set_flag(std::vector<uint8_t>& z, size_t at)
{
    uint16_t flags = u16(z, at) | UTF8_NAMES;
    z[at] = uint8_t(flags);
    z[at + 1] = uint8_t(flags >> 8);
}

bool fail(const char* path, const char* why)
{
    std::fprintf(stderr, "%s: %s\n", path, why);
    return false;
}

// Walks the central directory from the end record; every entry's local header must match it.
bool mark(const char* path, std::vector<uint8_t>& z)
{
    if (z.size() < 22)
        return fail(path, "too short for a zip archive");
    size_t end = z.size() - 22;   // no archive comment
    if (u32(z, end) != 0x06054b50)
        return fail(path, "no end of central directory record (or an archive comment)");
    uint16_t entries = u16(z, end + 10);
    size_t at = u32(z, end + 16);
    for (uint16_t i = 0; i < entries; ++i) {
        if (at + 46 > z.size() || u32(z, at) != 0x02014b50)
            return fail(path, "bad central directory entry");
        uint16_t name_length = u16(z, at + 28), extra = u16(z, at + 30), comment = u16(z, at + 32);
        size_t local = u32(z, at + 42);
        if (extra != 0 || comment != 0)
            return fail(path, "an entry has extra fields or a comment");
        if (at + 46 + name_length > z.size() || local + 30 + name_length > z.size() || u32(z, local) != 0x04034b50)
            return fail(path, "bad local header");
        if (u16(z, local + 26) != name_length || u16(z, local + 28) != 0 ||
            !std::equal(z.begin() + long(at + 46), z.begin() + long(at + 46 + name_length), z.begin() + long(local + 30)))
            return fail(path, "local header differs from the central directory");
        bool ascii = true;
        for (size_t k = 0; k < name_length; ++k)
            ascii = ascii && z[at + 46 + k] < 0x80;
        if (!ascii) {
            set_flag(z, at + 8);
            set_flag(z, local + 6);
        }
        at += 46 + name_length;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zip_utf8_names ZIP\n");
        return 2;
    }
    FILE* f = std::fopen(argv[1], "rb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> z;
    int c;
    while ((c = std::fgetc(f)) != EOF)
        z.push_back(uint8_t(c));
    std::fclose(f);
    if (!mark(argv[1], z))
        return 1;
    f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(z.data(), 1, z.size(), f) != z.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
