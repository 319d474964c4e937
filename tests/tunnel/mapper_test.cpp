// Block mapper: hand-worked blocks, and agreement with a naive per-pixel model of the two 16-bit
// lanes over random and extreme corners.
#include "tunnel/mapper.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr Pixel32 untouched = 0xDEADBEEF;  // no texel has this value

// A texture whose every texel holds its own index u × 256 + v.
std::vector<Pixel32> index_texture() {
    std::vector<Pixel32> t(256 * 256);  // exact size: ASan reports any read past it
    for (int i = 0; i < 256 * 256; ++i) t[i] = static_cast<Pixel32>(i);
    return t;
}

struct Frame {
    std::vector<Pixel32> px = std::vector<Pixel32>(screen_pixels, untouched);
    Pixel32 at(int x, int y) const { return px[y * screen_width + x]; }
};

Pixel32 texel(int u, int v) {
    return static_cast<Pixel32>(u * 256 + v);
}

// The naive model: 64-bit integers reduced modulo 2^32 by hand, and each pixel computed on its
// own from its row's start and step instead of by accumulating.
std::int64_t wrap32(std::int64_t x) {
    x = ((x % 4294967296LL) + 4294967296LL) % 4294967296LL;
    return x >= 2147483648LL ? x - 4294967296LL : x;
}
std::int64_t floor_div8(std::int64_t x) {
    return x >= 0 ? x / 8 : -((-x + 7) / 8);
}

// Texel index of pixel (i, r) of the block with corners c00, c10, c01, c11.
int model_index(int i, int r, TexCoord c00, TexCoord c10, TexCoord c01, TexCoord c11) {
    const std::int64_t uL = wrap32(c00.u * 256LL + r * wrap32((c01.u - std::int64_t{c00.u}) * 32));
    const std::int64_t vL = wrap32(c00.v * 256LL + r * wrap32((c01.v - std::int64_t{c00.v}) * 32));
    const std::int64_t uR = wrap32(c10.u * 256LL + r * wrap32((c11.u - std::int64_t{c10.u}) * 32));
    const std::int64_t vR = wrap32(c10.v * 256LL + r * wrap32((c11.v - std::int64_t{c10.v}) * 32));
    const std::int64_t du = floor_div8(wrap32(uR - uL)), dv = floor_div8(wrap32(vR - vL));
    // Packing by 32-bit addition, then split into lanes as unsigned 16-bit numbers.
    const std::int64_t acc = wrap32(uL * 65536 + vL) + 4294967296LL;  // now 0..2^33
    const std::int64_t step = wrap32(du * 65536 + dv) + 4294967296LL;
    const std::int64_t acc_hi = (acc / 65536) % 65536, acc_lo = acc % 65536;
    const std::int64_t step_hi = (step / 65536) % 65536, step_lo = step % 65536;
    const std::int64_t hi = (acc_hi + i * step_hi) % 65536, lo = (acc_lo + i * step_lo) % 65536;
    return static_cast<int>((hi / 256) * 256 + lo / 256);
}

TEST(TunnelMapper, EqualCornersFillTheBlockWithOneTexel) {
    const auto tex = index_texture();
    for (const TexCoord c : {TexCoord{3, 7}, TexCoord{300, 1000}, TexCoord{-5, 40}}) {
        Frame f;
        map_block_8x8(f.px.data(), 16, 8, c, c, c, c, tex.data());
        const int u = ((c.u % 256) + 256) % 256, v = ((c.v % 256) + 256) % 256;
        for (int y = 8; y < 16; ++y)
            for (int x = 16; x < 24; ++x) ASSERT_EQ(f.at(x, y), texel(u, v)) << x << "," << y;
    }
}

TEST(TunnelMapper, NegativeVBorrowsATexelFromU) {
    // v = −3: vL = −768 borrows one from the u lane, which reads 5 × 256 − 1, i.e. texel row 4.
    const auto tex = index_texture();
    Frame f;
    const TexCoord c{5, -3};
    map_block_8x8(f.px.data(), 0, 0, c, c, c, c, tex.data());
    EXPECT_EQ(f.at(0, 0), texel(4, 253));
    EXPECT_EQ(f.at(7, 7), texel(4, 253));
}

TEST(TunnelMapper, URampAcrossEachRow) {
    const auto tex = index_texture();
    Frame f;
    map_block_8x8(f.px.data(), 312, 232, {0, 0}, {8, 0}, {0, 0}, {8, 0}, tex.data());
    for (int y = 232; y < 240; ++y)
        for (int i = 0; i < 8; ++i) ASSERT_EQ(f.at(312 + i, y), texel(i, 0)) << i << "," << y;
    // Nothing outside the block was written.
    int written = 0;
    for (const Pixel32 p : f.px) written += p != untouched;
    EXPECT_EQ(written, 64);
}

TEST(TunnelMapper, NegativeDvLowersTheUStepByOne) {
    // du = 256, dv = −256: the u lane steps by 255, not 256. By hand: u lane 256, 511, 766, ...
    // and v lane 2048, 1792, ... give these texels along the top row.
    const auto tex = index_texture();
    Frame f;
    map_block_8x8(f.px.data(), 8, 0, {1, 8}, {9, 0}, {1, 8}, {9, 0}, tex.data());
    const int want[8][2] = {{1, 8}, {1, 7}, {2, 6}, {3, 5}, {4, 4}, {5, 3}, {6, 2}, {7, 1}};
    for (int y = 0; y < 8; ++y)
        for (int i = 0; i < 8; ++i) ASSERT_EQ(f.at(8 + i, y), texel(want[i][0], want[i][1])) << i;
    // With u constant the u lane goes 256 → 255: row 0 after the first pixel.
    Frame g;
    map_block_8x8(g.px.data(), 0, 0, {1, 8}, {1, 0}, {1, 8}, {1, 0}, tex.data());
    EXPECT_EQ(g.at(0, 0), texel(1, 8));
    for (int i = 1; i < 8; ++i) EXPECT_EQ(g.at(i, 0), texel(0, 8 - i)) << i;
}

TexCoord random_corner(std::mt19937& rng) {
    static constexpr std::int32_t extremes[] = {
        INT32_MIN, INT32_MAX, INT32_MIN + 1, INT32_MAX - 1, -1,    0,
        1,         -8388608,  8388607,       65535,         -65536};
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<std::int32_t> small(-3000, 3000), any(INT32_MIN, INT32_MAX);
    std::uniform_int_distribution<int> pick(0, 10);
    const auto one = [&]() -> std::int32_t {
        switch (kind(rng)) {
            case 0:
                return small(rng);
            case 1:
                return extremes[pick(rng)];
            case 2:
                return any(rng) / 256;  // large, but ×256 still fits
            default:
                return any(rng);
        }
    };
    return {one(), one()};
}

TEST(TunnelMapper, AgreesWithNaiveLaneModelIncludingExtremes) {
    const auto tex = index_texture();
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> bx(0, 39), by(0, 29);
    Frame f;
    for (int n = 0; n < 20000; ++n) {
        const TexCoord c00 = random_corner(rng), c10 = random_corner(rng);
        const TexCoord c01 = random_corner(rng), c11 = random_corner(rng);
        const int x = 8 * bx(rng), y = 8 * by(rng);
        map_block_8x8(f.px.data(), x, y, c00, c10, c01, c11, tex.data());
        for (int r = 0; r < 8; ++r)
            for (int i = 0; i < 8; ++i) {
                const int want = model_index(i, r, c00, c10, c01, c11);
                ASSERT_EQ(f.at(x + i, y + r), static_cast<Pixel32>(want))
                    << "block " << n << " pixel " << i << "," << r << " corners (" << c00.u << ","
                    << c00.v << ") (" << c10.u << "," << c10.v << ") (" << c01.u << "," << c01.v
                    << ") (" << c11.u << "," << c11.v << ")";
            }
    }
}

TEST(TunnelMapper, DrawTakesEachBlocksCornersFromTheGrid) {
    const auto tex = index_texture();
    std::mt19937 rng(77);
    std::uniform_int_distribution<std::int32_t> coord(-5000, 5000);
    for (TexCoord& c : uv_grid) c = {coord(rng), coord(rng)};
    uv_grid[0] = {INT32_MIN, INT32_MIN};  // the non-finite frame's value, among ordinary ones
    uv_grid[grid_points - 1] = {INT32_MAX, INT32_MIN};
    Frame f;
    tunnel_draw(f.px.data(), tex.data());
    for (int y = 0; y < screen_height; ++y)
        for (int x = 0; x < screen_width; ++x) {
            const TexCoord* g = uv_grid + (y / 8) * grid_columns + x / 8;
            const int want =
                model_index(x % 8, y % 8, g[0], g[1], g[grid_columns], g[grid_columns + 1]);
            ASSERT_EQ(f.at(x, y), static_cast<Pixel32>(want)) << x << "," << y;
        }
}

}  // namespace
