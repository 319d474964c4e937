// Block mapper: hand-worked blocks, and whole frames of random and extreme corners against a
// naive per-pixel model of the two 16-bit lanes.
#include "tunnel/mapper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "tunnel/mapper_paths.h"

namespace {

constexpr Pixel32 untouched = 0xDEADBEEF;  // no texel has this value

struct Fixture {
    std::vector<Pixel32> tex = std::vector<Pixel32>(256 * 256);  // exact size: ASan sees overreads
    std::vector<Pixel32> px = std::vector<Pixel32>(screen_pixels, untouched);
    Fixture() {
        for (int i = 0; i < 256 * 256; ++i) tex[i] = static_cast<Pixel32>(i);  // texel = index
    }
    Pixel32 at(int x, int y) const { return px[y * screen_width + x]; }
};

// The naive model: 64-bit integers reduced modulo 2^32 by hand, and each pixel computed on its
// own from its row's start and step instead of by accumulating.
std::int64_t wrap32(std::int64_t x) {
    x = ((x % 4294967296LL) + 4294967296LL) % 4294967296LL;
    return x >= 2147483648LL ? x - 4294967296LL : x;
}
std::int64_t floor_div8(std::int64_t x) {
    return x >= 0 ? x / 8 : -((-x + 7) / 8);
}
std::int64_t edge(std::int32_t top, std::int32_t bottom, int r) {  // 8.8 position on row r
    return wrap32(top * 256LL + r * wrap32((bottom - std::int64_t{top}) * 32));
}

// Texel index of pixel (i, r) of the block whose top-left corner is grid point g.
int model_index(int i, int r, const TexCoord* g) {
    const TexCoord c00 = g[0], c10 = g[1], c01 = g[grid_columns], c11 = g[grid_columns + 1];
    const std::int64_t uL = edge(c00.u, c01.u, r), vL = edge(c00.v, c01.v, r);
    const std::int64_t uR = edge(c10.u, c11.u, r), vR = edge(c10.v, c11.v, r);
    const std::int64_t du = floor_div8(wrap32(uR - uL)), dv = floor_div8(wrap32(vR - vL));
    // Packing by 32-bit addition, then split into lanes as unsigned 16-bit numbers.
    const std::int64_t acc = wrap32(uL * 65536 + vL) + 4294967296LL;  // now 0..2^33
    const std::int64_t step = wrap32(du * 65536 + dv) + 4294967296LL;
    const std::int64_t hi = (acc / 65536 % 65536 + i * (step / 65536 % 65536)) % 65536;
    const std::int64_t lo = (acc % 65536 + i * (step % 65536)) % 65536;
    return static_cast<int>((hi / 256) * 256 + lo / 256);
}

TEST(TunnelMapper, EqualCornersFillTheBlockWithOneTexel) {
    // {corner, texel by hand}: v = −3 gives vL = −768, which borrows one from the u lane.
    const TexCoord cases[][2] = {
        {{3, 7}, {3, 7}}, {{300, 1000}, {44, 232}}, {{-5, 40}, {251, 40}}, {{5, -3}, {4, 253}}};
    for (const auto& [c, want] : cases) {
        Fixture f;
        map_block_8x8(f.px.data(), 16, 8, c, c, c, c, f.tex.data());
        for (int y = 8; y < 16; ++y)
            for (int x = 16; x < 24; ++x) ASSERT_EQ(f.at(x, y), want.u * 256u + want.v) << c.v;
    }
}

TEST(TunnelMapper, RowsStepByHandWorkedTexels) {
    // Left and right edges constant down the block, drawn in the frame's last block. A u ramp
    // gives texel row i at pixel i. With du = 256, dv = −256 the u lane steps by 255, not 256:
    // u lane 256, 511, 766, ... and v lane 2048, 1792, ... give the second list.
    const struct {
        TexCoord left, right;
        int want[8][2];
    } cases[] = {
        {{0, 0}, {8, 0}, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}}},
        {{1, 8}, {9, 0}, {{1, 8}, {1, 7}, {2, 6}, {3, 5}, {4, 4}, {5, 3}, {6, 2}, {7, 1}}}};
    for (const auto& [left, right, want] : cases) {
        Fixture f;
        map_block_8x8(f.px.data(), 312, 232, left, right, left, right, f.tex.data());
        EXPECT_EQ(std::count(f.px.begin(), f.px.end(), untouched), screen_pixels - 64);
        for (int y = 232; y < 240; ++y)
            for (int i = 0; i < 8; ++i)
                ASSERT_EQ(f.at(312 + i, y), want[i][0] * 256u + want[i][1]) << i << "," << y;
    }
}

TEST(TunnelMapper, EveryPathAgreesWithNaiveLaneModelOnWholeFramesIncludingExtremes) {
    // Random grids through each path's whole-frame draw (the portable one, and the SIMD ones
    // this processor runs) and through tunnel_draw: this also checks which grid point feeds
    // which corner. Every texel holds its own index, so agreement means no read left the
    // texture.
    int path_count = 0;
    const MapperPath* paths = mapper_paths(&path_count);
    ASSERT_GE(path_count, 1);
    EXPECT_STREQ(paths[0].name, "portable");
    std::vector<MapperPath> draws(paths, paths + path_count);
    draws.push_back({"tunnel_draw", tunnel_draw});
    constexpr std::int32_t extremes[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, INT32_MAX - 1, -1,
                                         0,         1,         -8388608,      8388607,       65535,
                                         -65536};
    std::mt19937 rng(1234);
    std::uniform_int_distribution<std::int32_t> small(-3000, 3000), any(INT32_MIN, INT32_MAX);
    std::uniform_int_distribution<int> kind(0, 3), pick(0, 10);
    const auto one = [&] {  // small, extreme, large (× 256 still fits), or anything
        const int k = kind(rng);
        return k == 0 ? small(rng) : k == 1 ? extremes[pick(rng)] : any(rng) / (k == 2 ? 256 : 1);
    };
    for (int frame = 0; frame < 16; ++frame) {
        for (TexCoord& c : uv_grid) c = {one(), one()};
        for (const MapperPath& path : draws) {
            Fixture f;
            path.draw(f.px.data(), f.tex.data());
            for (int y = 0; y < screen_height; ++y)
                for (int x = 0; x < screen_width; ++x) {
                    const TexCoord* g = uv_grid + (y / 8) * grid_columns + x / 8;
                    ASSERT_EQ(f.at(x, y), Pixel32(model_index(x % 8, y % 8, g)))
                        << path.name << ", frame " << frame << " pixel " << x << "," << y;
                }
        }
    }
}

}  // namespace
