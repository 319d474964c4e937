// The eight row converters against a byte-level model of each format, and conv_request's table.
#include "display/convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// The eight formats as a display reports them (storage bits, masks of one little-endian value).
const struct Format {
    const char* name;
    ConvertFn fn;
    int bytes;  // per destination pixel
    std::uint32_t bits, red, green, blue;
} formats[] = {
    {"32_rgb888", conv_32_rgb888, 4, 32, 0xFF0000, 0xFF00, 0xFF},
    {"32_bgr888", conv_32_bgr888, 4, 32, 0xFF, 0xFF00, 0xFF0000},
    {"24_rgb888", conv_24_rgb888, 3, 24, 0xFF0000, 0xFF00, 0xFF},
    {"24_bgr888", conv_24_bgr888, 3, 24, 0xFF, 0xFF00, 0xFF0000},
    {"16_rgb565", conv_16_rgb565, 2, 16, 0xF800, 0x7E0, 0x1F},
    {"16_bgr565", conv_16_bgr565, 2, 16, 0x1F, 0x7E0, 0xF800},
    {"16_rgb555", conv_16_rgb555, 2, 16, 0x7C00, 0x3E0, 0x1F},
    {"16_bgr555", conv_16_bgr555, 2, 16, 0x1F, 0x3E0, 0x7C00},
};

// Naive model: the destination bytes of one pixel, built from its channel bytes field by field.
std::vector<std::uint8_t> model(int index, std::uint32_t p) {
    const std::uint8_t b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF, x = p >> 24;
    if (index < 4) {
        const std::vector<std::uint8_t> bytes[] = {
            {b, g, r, x}, {r, g, b, 0}, {b, g, r}, {r, g, b}};
        return bytes[index];
    }
    // A 16-bit word: a 5-bit field, green (6 bits for 565, else 5), a 5-bit field, low byte first.
    const bool rgb = index % 2 == 0, g6 = index < 6;
    const unsigned w =
        (rgb ? r : b) / 8 * (g6 ? 2048 : 1024) + g / (g6 ? 4 : 8) * 32 + (rgb ? b : r) / 8;
    return {std::uint8_t(w % 256), std::uint8_t(w / 256)};
}

// Converts `pixels` to `offset` bytes past a 16-byte guard zone and checks every byte, guards on
// both sides included. The source is an exact-sized heap block: ASan sees any read past the row.
void check_row(int index, const std::vector<Pixel32>& pixels, int offset) {
    const Format& f = formats[index];
    const std::size_t n = pixels.size(), guard = 16 + offset, size = n * f.bytes;
    std::unique_ptr<Pixel32[]> src(n ? new Pixel32[n] : nullptr);
    if (n) std::memcpy(src.get(), pixels.data(), n * 4);
    std::vector<std::uint8_t> buf(guard + size + 16, 0xA5);
    f.fn(src.get(), buf.data() + guard, static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < buf.size(); i++) {
        const std::size_t k = i - guard;  // byte of the converted row (wraps below it)
        const int want = k < size ? model(index, pixels[k / f.bytes])[k % f.bytes] : 0xA5;
        ASSERT_EQ(buf[i], want) << f.name << " n=" << n << " offset=" << offset << " byte " << i;
    }
}

TEST(Convert, EveryConverterMatchesModelForAllTailLengthsAndAlignments) {
    // Random pixels with a random fourth byte, and every third one from values around the dropped
    // bits and the 16-bit sign bit, in every lane position.
    const Pixel32 edge[] = {0x00000000, 0x00FFFFFF, 0xFFFFFFFF, 0x00070307, 0x00080408, 0x00F8FCF8,
                            0x00800000, 0x00008000, 0x00000080, 0x007F7F7F, 0xFF000000};
    std::uint32_t seed = 12345;
    for (int index = 0; index < 8; index++) {
        for (std::uint32_t n = 0; n <= 68; n++) {
            std::vector<Pixel32> row(n == 68 ? 320 : n);  // every tail length, then a frame row
            for (std::size_t i = 0; i < row.size(); i++) {
                seed = seed * 1664525u + 1013904223u;
                row[i] = i % 3 ? seed : edge[(seed >> 8) % std::size(edge)];
            }
            for (int offset = 0; offset < 4; offset++) check_row(index, row, offset);
        }
    }
}

TEST(Convert, WorkedExampleAndFourthByte) {
    const std::uint8_t want[8][4] = {
        {0x56, 0x34, 0x12, 0}, {0x12, 0x34, 0x56, 0}, {0x56, 0x34, 0x12}, {0x12, 0x34, 0x56},
        {0xAA, 0x11},          {0xA2, 0x51},          {0xCA, 0x08},       {0xC2, 0x28}};
    const Pixel32 p[] = {0x00123456, 0x00FFFFFF, 0x00070307}, high[] = {0xFF123456};
    for (int i = 0; i < 8; i++) {
        const Format& f = formats[i];
        std::uint8_t d[12], h[4];
        f.fn(p, d, 3);
        EXPECT_EQ(std::memcmp(d, want[i], f.bytes), 0) << f.name;
        if (f.bytes == 2) {  // white is all ones at the format's depth; below 8 is zero
            EXPECT_EQ(d[2] | d[3] << 8, f.green == 0x7E0 ? 0xFFFF : 0x7FFF) << f.name;
            EXPECT_EQ(d[4] | d[5] << 8, 0) << f.name;
        }
        // Only the straight copy carries the fourth source byte.
        f.fn(high, h, 1);
        EXPECT_EQ(std::memcmp(d, h, f.bytes) == 0, f.fn != conv_32_rgb888) << f.name;
    }
}

// conv_request's table: each row names the converter that produces that layout (a red "F" on
// blue, decoded through the row's masks, shows a red/blue swap or a pixel from the wrong position),
// and nothing else answers.
TEST(Convert, RequestTableNamesTheConverterOfEachLayoutAndNothingElse) {
    const char* shape[7] = {"########", "#.......", "#.......", "######..",
                            "#.......", "#.......", "#......."};
    for (const Format& f : formats) {
        ASSERT_EQ(conv_request(f.bits, f.red, f.green, f.blue), f.fn) << f.name;
        for (int y = 0; y < 7; y++) {
            Pixel32 row[8];
            std::uint8_t out[32];
            for (int x = 0; x < 8; x++) row[x] = shape[y][x] == '#' ? 0x00FF0000 : 0x000000FF;
            f.fn(row, out, 8);
            for (int x = 0; x < 8; x++) {
                std::uint32_t v = 0;
                for (int k = 0; k < f.bytes; k++)
                    v |= std::uint32_t(out[x * f.bytes + k]) << (8 * k);
                EXPECT_EQ(v, shape[y][x] == '#' ? f.red : f.blue)
                    << f.name << " at " << x << "," << y;
            }
        }
        // The row's masks with other bit counts: only a listed row answers (the 888 masks are
        // listed at both 24 and 32 bits). 15 is what SDL reports for 555, never a storage size.
        for (std::uint32_t bits : {0u, 8u, 15u, 16u, 24u, 32u}) {
            ConvertFn want = nullptr;
            for (const Format& g : formats) {
                if (g.bits == bits && g.red == f.red && g.green == f.green && g.blue == f.blue)
                    want = g.fn;
            }
            EXPECT_EQ(conv_request(bits, f.red, f.green, f.blue), want) << f.name << " " << bits;
        }
        // Masks in any order other than the listed ones.
        EXPECT_EQ(conv_request(f.bits, f.green, f.red, f.blue), nullptr) << f.name;
        EXPECT_EQ(conv_request(f.bits, f.red, f.blue, f.green), nullptr) << f.name;
        EXPECT_EQ(conv_request(f.bits, f.blue, f.red, f.green), nullptr) << f.name;
    }
    // Mixed-up rows: 565 red with 555 green, 888 masks shifted up a byte, an alpha-sized mask.
    EXPECT_EQ(conv_request(16, 0xF800, 0x3E0, 0x1F), nullptr);
    EXPECT_EQ(conv_request(32, 0xFF000000, 0xFF0000, 0xFF00), nullptr);
    EXPECT_EQ(conv_request(32, 0xFFFF0000, 0xFF00, 0xFF), nullptr);
}

}  // namespace
