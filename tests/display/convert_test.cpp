// The eight row converters against a byte-level model of each format, and conv_request's table.
#include "display/convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Format {
    const char* name;
    ConvertFn fn;
    int bytes;  // per destination pixel
    std::uint32_t bits, red, green, blue;
};

// The eight formats as a display reports them (storage bits, masks of one little-endian value).
const Format formats[] = {
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
    const unsigned b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF, x = p >> 24;
    unsigned w = 0;
    switch (index) {
        case 0:
            return {std::uint8_t(b), std::uint8_t(g), std::uint8_t(r), std::uint8_t(x)};
        case 1:
            return {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), 0};
        case 2:
            return {std::uint8_t(b), std::uint8_t(g), std::uint8_t(r)};
        case 3:
            return {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)};
        case 4:
            w = (r / 8) * 2048 + (g / 4) * 32 + b / 8;
            break;
        case 5:
            w = (b / 8) * 2048 + (g / 4) * 32 + r / 8;
            break;
        case 6:
            w = (r / 8) * 1024 + (g / 8) * 32 + b / 8;
            break;
        case 7:
            w = (b / 8) * 1024 + (g / 8) * 32 + r / 8;
            break;
    }
    return {std::uint8_t(w % 256), std::uint8_t(w / 256)};
}

std::uint32_t lcg(std::uint32_t& s) {
    return s = s * 1664525u + 1013904223u;
}

// Converts `src` into a buffer placed `offset` bytes past a guard zone and checks every byte,
// including 16 guard bytes on either side. The source is an exact-sized heap block so that the
// address sanitizer sees any read past the row.
void check_row(int index, const std::vector<Pixel32>& pixels, int offset) {
    const Format& f = formats[index];
    const std::size_t n = pixels.size();
    std::unique_ptr<Pixel32[]> src(n ? new Pixel32[n] : nullptr);
    if (n) std::memcpy(src.get(), pixels.data(), n * 4);
    const std::size_t guard = 16, size = n * f.bytes;
    std::vector<std::uint8_t> buf(guard + offset + size + guard, 0xA5);
    f.fn(src.get(), buf.data() + guard + offset, static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < guard + offset; i++)
        ASSERT_EQ(buf[i], 0xA5) << f.name << " before, n=" << n;
    for (std::size_t i = 0; i < n; i++) {
        const auto want = model(index, pixels[i]);
        for (int k = 0; k < f.bytes; k++) {
            ASSERT_EQ(buf[guard + offset + i * f.bytes + k], want[k])
                << f.name << " n=" << n << " offset=" << offset << " pixel " << i << " byte " << k
                << " source 0x" << std::hex << pixels[i];
        }
    }
    for (std::size_t i = guard + offset + size; i < buf.size(); i++)
        ASSERT_EQ(buf[i], 0xA5) << f.name << " after, n=" << n;
}

TEST(Convert, EveryConverterMatchesModelForAllTailLengthsAndAlignments) {
    std::uint32_t seed = 12345;
    std::vector<std::uint32_t> counts;
    for (std::uint32_t n = 0; n <= 67; n++) counts.push_back(n);
    counts.push_back(320);
    for (int index = 0; index < 8; index++) {
        for (std::uint32_t n : counts) {
            std::vector<Pixel32> row(n);
            for (auto& p : row) p = lcg(seed);  // random fourth byte too
            for (int offset = 0; offset < 4; offset++) check_row(index, row, offset);
        }
    }
}

TEST(Convert, ExtremeChannelValuesAtEveryLanePosition) {
    // Channel values around the bits that are dropped and around the 16-bit sign bit.
    const Pixel32 vals[] = {0x00000000, 0x00FFFFFF, 0xFFFFFFFF, 0x00070307, 0x00080408, 0x00F8FCF8,
                            0x00800000, 0x00008000, 0x00000080, 0x007F7F7F, 0xFF000000, 0x00FF0000};
    for (int index = 0; index < 8; index++) {
        for (Pixel32 v : vals) {
            for (int at = 0; at < 17; at++) {
                std::vector<Pixel32> row(17, 0x00123456);
                row[at] = v;
                check_row(index, row, 1);
            }
        }
    }
}

TEST(Convert, WorkedExample) {
    const Pixel32 p[1] = {0x00123456};
    std::uint8_t d[4] = {};
    conv_32_bgr888(p, d, 1);
    EXPECT_EQ(d[0] | d[1] << 8 | d[2] << 16 | d[3] << 24, 0x00563412);
    conv_24_rgb888(p, d, 1);
    EXPECT_EQ(d[0], 0x56);
    EXPECT_EQ(d[1], 0x34);
    EXPECT_EQ(d[2], 0x12);
    conv_24_bgr888(p, d, 1);
    EXPECT_EQ(d[0], 0x12);
    EXPECT_EQ(d[1], 0x34);
    EXPECT_EQ(d[2], 0x56);
    const struct {
        ConvertFn fn;
        unsigned word, white;
    } words[] = {{conv_16_rgb565, 0x11AA, 0xFFFF},
                 {conv_16_bgr565, 0x51A2, 0xFFFF},
                 {conv_16_rgb555, 0x08CA, 0x7FFF},
                 {conv_16_bgr555, 0x28C2, 0x7FFF}};
    const Pixel32 white[1] = {0x00FFFFFF}, dark[1] = {0x00070307};
    for (const auto& w : words) {
        w.fn(p, d, 1);
        EXPECT_EQ(d[0] | d[1] << 8, w.word);
        w.fn(white, d, 1);
        EXPECT_EQ(d[0] | d[1] << 8, w.white);
        w.fn(dark, d, 1);
        EXPECT_EQ(d[0] | d[1] << 8, 0);
    }
}

// A red "F" on blue, 8 × 7: any red/blue swap or a pixel taken from the wrong position shows.
// Each format is decoded through the masks of its conv_request row, so this also checks that
// each row of the table names the converter that really produces that layout.
TEST(Convert, RedFOnBlueDecodesThroughTheRequestedMasks) {
    const char* shape[7] = {"########", "#.......", "#.......", "######..",
                            "#.......", "#.......", "#......."};
    for (const Format& f : formats) {
        ConvertFn fn = conv_request(f.bits, f.red, f.green, f.blue);
        ASSERT_EQ(fn, f.fn) << f.name;
        for (int y = 0; y < 7; y++) {
            Pixel32 row[8];
            for (int x = 0; x < 8; x++) row[x] = shape[y][x] == '#' ? 0x00FF0000 : 0x000000FF;
            std::uint8_t out[32];
            fn(row, out, 8);
            for (int x = 0; x < 8; x++) {
                std::uint32_t v = 0;
                for (int k = 0; k < f.bytes; k++)
                    v |= std::uint32_t(out[x * f.bytes + k]) << (8 * k);
                const bool red = (v & f.red) == f.red && (v & f.blue) == 0;
                const bool blue = (v & f.blue) == f.blue && (v & f.red) == 0;
                EXPECT_EQ(red, shape[y][x] == '#') << f.name << " at " << x << "," << y;
                EXPECT_EQ(blue, shape[y][x] != '#') << f.name << " at " << x << "," << y;
                EXPECT_EQ(v & f.green, 0u) << f.name;
            }
        }
    }
}

TEST(Convert, FourthByteMattersOnlyForTheStraightCopy) {
    Pixel32 zero[21], high[21];
    for (int i = 0; i < 21; i++) {
        zero[i] = 0x00102030u * (i + 1) & 0x00FFFFFF;
        high[i] = zero[i] | 0xFF000000u;
    }
    for (const Format& f : formats) {
        std::uint8_t a[84], b[84];
        f.fn(zero, a, 21);
        f.fn(high, b, 21);
        const bool same = std::memcmp(a, b, 21 * f.bytes) == 0;
        EXPECT_EQ(same, f.fn != conv_32_rgb888) << f.name;
    }
}

TEST(Convert, RequestAcceptsOnlyTheExactRows) {
    for (const Format& f : formats)
        EXPECT_EQ(conv_request(f.bits, f.red, f.green, f.blue), f.fn) << f.name;
    // 555 as reported with 15 bits per pixel: the caller must pass the storage size.
    EXPECT_EQ(conv_request(15, 0x7C00, 0x3E0, 0x1F), nullptr);
    EXPECT_EQ(conv_request(15, 0x1F, 0x3E0, 0x7C00), nullptr);
    // Each row's masks with every other bit count: only a listed row answers (the 888 masks are
    // listed at both 24 and 32 bits, each with its own converter).
    for (const Format& f : formats) {
        for (std::uint32_t bits : {8u, 15u, 16u, 24u, 32u}) {
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
    // Mixed-up rows: 565 red with 555 green, 24-bit masks shifted up a byte, an alpha-sized mask.
    EXPECT_EQ(conv_request(16, 0xF800, 0x3E0, 0x1F), nullptr);
    EXPECT_EQ(conv_request(32, 0xFF000000, 0xFF0000, 0xFF00), nullptr);
    EXPECT_EQ(conv_request(32, 0xFFFF0000, 0xFF00, 0xFF), nullptr);
    EXPECT_EQ(conv_request(0, 0, 0, 0), nullptr);
}

}  // namespace
