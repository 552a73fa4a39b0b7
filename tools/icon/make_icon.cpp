// Draws the updater's icon (a chip receiving a downward arrow) and writes it as an .ico:
// 16, 32, 40 and 48 px in the standard 16 colours, 256 px in 24-bit colour.
//   make_icon OUT.ico
#include <cstdint>
#include <cstdio>
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
            bool opaque = bits == 4 ? colour_at((x + 0.5) / size, (y + 0.5) / size, &c)
                                    : render_pixel(x, y, size, 4, &c);
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

}  // namespace

// Writes the directory and the five images.
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUT.ico\n");
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
    FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size()) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
