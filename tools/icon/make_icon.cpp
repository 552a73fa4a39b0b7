// Draws the updater's icon (a chip receiving a downward arrow) and writes it as an .ico:
// 16, 32, 40 and 48 px in the standard 16 colours, 256 px in 24-bit colour; with a prefix,
// also the same pictures as PNG files PREFIX-16.png .. PREFIX-256.png (for the Linux build).
//   make_icon OUT.ico [PNG_PREFIX]
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgb {
    int r, g, b;
};

const Rgb PALETTE[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

const Rgb BODY = {36, 38, 44};
const Rgb PIN = {196, 196, 200};
const Rgb NOTCH = {120, 124, 132};
const Rgb ARROW = {40, 210, 70};
const Rgb OUTLINE = {0, 0, 0};

// Inside the arrow: a shaft from the top and a head pointing into the chip.
bool in_arrow(double u, double v, double grow)
{
    if (u >= 0.40 - grow && u <= 0.60 + grow && v >= 0.04 - grow && v <= 0.44)
        return true;
    double top = 0.40 - grow, apex = 0.72 + grow;
    if (v < top || v > apex)
        return false;
    double half = 0.26 + grow;
    double allowed = half * (apex - v) / (apex - top);
    return u >= 0.5 - allowed && u <= 0.5 + allowed;
}

// The picture at one point in unit coordinates; false where the icon is transparent.
bool colour_at(double u, double v, Rgb* out)
{
    if (in_arrow(u, v, 0.0)) {
        *out = ARROW;
        return true;
    }
    if (in_arrow(u, v, 0.05)) {
        *out = OUTLINE;
        return true;
    }
    if (u >= 0.22 && u <= 0.78 && v >= 0.30 && v <= 0.88) {
        double du = u - 0.32, dv = v - 0.78;
        *out = du * du + dv * dv <= 0.05 * 0.05 ? NOTCH : BODY;
        return true;
    }
    bool pin_column = (u >= 0.08 && u < 0.22) || (u > 0.78 && u <= 0.92);
    for (int i = 0; i < 4; ++i) {
        double centre = 0.40 + 0.14 * i;
        if (pin_column && v >= centre - 0.04 && v <= centre + 0.04) {
            *out = PIN;
            return true;
        }
    }
    return false;
}

// The standard colour nearest to c.
int nearest_index(Rgb c)
{
    int best = 0;
    long best_distance = -1;
    for (int i = 0; i < 16; ++i) {
        long dr = c.r - PALETTE[i].r, dg = c.g - PALETTE[i].g, db = c.b - PALETTE[i].b;
        long d = dr * dr + dg * dg + db * db;
        if (best_distance < 0 || d < best_distance) {
            best_distance = d;
            best = i;
        }
    }
    return best;
}

// Averages samples x samples points of one pixel; opaque when most of them are covered.
bool render_pixel(int x, int y, int size, int samples, Rgb* out)
{
    long r = 0, g = 0, b = 0;
    int covered = 0;
    for (int sy = 0; sy < samples; ++sy)
        for (int sx = 0; sx < samples; ++sx) {
            Rgb c;
            double u = (x + (sx + 0.5) / samples) / size, v = (y + (sy + 0.5) / samples) / size;
            if (colour_at(u, v, &c)) {
                r += c.r;
                g += c.g;
                b += c.b;
                ++covered;
            }
        }
    if (covered * 2 < samples * samples)
        return false;
    *out = {int(r / covered), int(g / covered), int(b / covered)};
    return true;
}

void put16(std::vector<uint8_t>& v, unsigned x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

void put32(std::vector<uint8_t>& v, uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

// One pixel of the picture at a size: sampled once in 16 colours, averaged in 24 bits.
bool picture_pixel(int x, int y, int size, int bits, Rgb* c)
{
    return bits == 4 ? colour_at((x + 0.5) / size, (y + 0.5) / size, c) : render_pixel(x, y, size, 4, c);
}

// One icon image: header, palette for 4 bits, colour rows and mask rows, bottom row first.
std::vector<uint8_t> make_image(int size, int bits)
{
    unsigned colour_row = ((size * bits + 31) / 32) * 4;
    unsigned mask_row = ((size + 31) / 32) * 4;
    std::vector<uint8_t> colour(colour_row * size, 0), mask(mask_row * size, 0);
    for (int y = 0; y < size; ++y) {
        int row = size - 1 - y;
        for (int x = 0; x < size; ++x) {
            Rgb c;
            bool opaque = picture_pixel(x, y, size, bits, &c);
            if (!opaque) {
                mask[row * mask_row + x / 8] |= uint8_t(0x80 >> (x % 8));
                continue;
            }
            if (bits == 4) {
                int index = nearest_index(c);
                colour[row * colour_row + x / 2] |= uint8_t(x % 2 ? index : index << 4);
            } else {
                uint8_t* p = &colour[row * colour_row + x * 3];
                p[0] = uint8_t(c.b);
                p[1] = uint8_t(c.g);
                p[2] = uint8_t(c.r);
            }
        }
    }
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, uint32_t(size));
    put32(out, uint32_t(size * 2));
    put16(out, 1);
    put16(out, unsigned(bits));
    put32(out, 0);
    put32(out, uint32_t(colour.size() + mask.size()));
    put32(out, 0);
    put32(out, 0);
    put32(out, bits == 4 ? 16 : 0);
    put32(out, 0);
    if (bits == 4)
        for (const Rgb& p : PALETTE) {
            out.push_back(uint8_t(p.b));
            out.push_back(uint8_t(p.g));
            out.push_back(uint8_t(p.r));
            out.push_back(0);
        }
    out.insert(out.end(), colour.begin(), colour.end());
    out.insert(out.end(), mask.begin(), mask.end());
    return out;
}

uint32_t crc_table[256];

// The CRC-32 of PNG chunks.
uint32_t crc32_of(const uint8_t* data, size_t length, uint32_t crc = 0xFFFFFFFFu)
{
    if (crc_table[1] == 0)
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crc_table[n] = c;
        }
    for (size_t i = 0; i < length; ++i)
        crc = crc_table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

void put32_be(std::vector<uint8_t>& v, uint32_t x)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        v.push_back(uint8_t(x >> shift));
}

// One PNG chunk: length, type, data, CRC of type and data.
void put_chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    put32_be(png, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put32_be(png, crc32_of(body.data(), body.size()) ^ 0xFFFFFFFFu);
}

// The same picture as an RGBA PNG: the 16-colour sizes in their palette colours, the mask
// as full transparency. Stored (uncompressed) deflate blocks: no library needed.
std::vector<uint8_t> make_png(int size, int bits)
{
    std::vector<uint8_t> raw;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < size; ++x) {
            Rgb c = {0, 0, 0};
            bool opaque = picture_pixel(x, y, size, bits, &c);
            if (opaque && bits == 4)
                c = PALETTE[nearest_index(c)];
            raw.push_back(uint8_t(opaque ? c.r : 0));
            raw.push_back(uint8_t(opaque ? c.g : 0));
            raw.push_back(uint8_t(opaque ? c.b : 0));
            raw.push_back(opaque ? 255 : 0);
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        z.push_back(at + n == raw.size() ? 1 : 0);
        put16(z, unsigned(n));
        put16(z, unsigned(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + long(at), raw.begin() + long(at + n));
        if (at + n == raw.size())
            break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32_be(z, b << 16 | a);
    std::vector<uint8_t> header;
    put32_be(header, uint32_t(size));
    put32_be(header, uint32_t(size));
    header.insert(header.end(), {8, 6, 0, 0, 0});
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", z);
    put_chunk(png, "IEND", {});
    return png;
}

// Writes bytes to a file; false when it cannot.
bool write_file(const char* path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path, "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", path);
        if (f)
            std::fclose(f);
        return false;
    }
    return std::fclose(f) == 0;
}

}  // namespace

// Writes the directory and the five images.
int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_icon OUT.ico [PNG_PREFIX]\n");
        return 2;
    }
    const int sizes[] = {16, 32, 40, 48, 256};
    std::vector<std::vector<uint8_t>> images;
    for (int s : sizes)
        images.push_back(make_image(s, s == 256 ? 24 : 4));
    std::vector<uint8_t> file;
    put16(file, 0);
    put16(file, 1);
    put16(file, unsigned(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        int s = sizes[i];
        bool small = s < 256;
        file.push_back(uint8_t(small ? s : 0));
        file.push_back(uint8_t(small ? s : 0));
        file.push_back(uint8_t(small ? 16 : 0));
        file.push_back(0);
        put16(file, 1);
        put16(file, small ? 4 : 24);
        put32(file, uint32_t(images[i].size()));
        put32(file, offset);
        offset += uint32_t(images[i].size());
    }
    for (const auto& image : images)
        file.insert(file.end(), image.begin(), image.end());
    if (!write_file(argv[1], file))
        return 1;
    if (argc == 3)
        for (int s : sizes) {
            std::string path = std::string(argv[2]) + "-" + std::to_string(s) + ".png";
            if (!write_file(path.c_str(), make_png(s, s == 256 ? 24 : 4)))
                return 1;
        }
    return 0;
}
