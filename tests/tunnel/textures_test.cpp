// The painted tunnel textures: they tile in both directions, keep the top byte 0, look clearly
// different from each other, and the generated files hold exactly what the painters paint.
#include "tools/textures/textures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/textures/noise.h"

namespace {

struct Painted {
    std::vector<Pixel32> a = std::vector<Pixel32>(tex_texels), b = std::vector<Pixel32>(tex_texels);
    Painted() {
        tex_paint_molten(a.data());
        tex_paint_circuit(b.data());
    }
};

const Painted& painted() {
    static const Painted p;
    return p;
}

int channel(Pixel32 p, int c) {
    return static_cast<int>(p >> (8 * c) & 0xFF);
}

// Mean absolute difference over the three colour channels of two texels.
double texel_step(Pixel32 p, Pixel32 q) {
    double s = 0;
    for (int c = 0; c < 3; ++c) s += std::abs(channel(p, c) - channel(q, c));
    return s / 3;
}

// Mean step between line k and line k + 1 (mod 256): rows when across_rows, else columns.
double line_step(const std::vector<Pixel32>& t, int k, bool across_rows) {
    const int next = (k + 1) % tex_size;
    double s = 0;
    for (int i = 0; i < tex_size; ++i)
        s += across_rows ? texel_step(t[k * tex_size + i], t[next * tex_size + i])
                         : texel_step(t[i * tex_size + k], t[i * tex_size + next]);
    return s / tex_size;
}

TEST(TunnelTextures, NoiseRepeatsEvery256Texels) {
    for (const int period : {4, 8, 16, 32, 64, 128})
        for (double x = -300; x < 300; x += 37.25)
            for (double y = -300; y < 300; y += 41.5) {
                const double n = tex_noise(x, y, period, 3);
                ASSERT_DOUBLE_EQ(n, tex_noise(x + 256, y, period, 3)) << period;
                ASSERT_DOUBLE_EQ(n, tex_noise(x, y - 256, period, 3)) << period;
                ASSERT_LE(std::abs(n), 1.5);
            }
}

TEST(TunnelTextures, WrapEdgesAreNoSharperThanTheInside) {
    // A seam would make the step from line 255 to line 0 stand out against the steps between
    // neighbouring lines inside; it must not exceed the 90th percentile of those.
    for (const auto* t : {&painted().a, &painted().b})
        for (const bool across_rows : {true, false}) {
            std::vector<double> inside;
            for (int k = 0; k < tex_size - 1; ++k) inside.push_back(line_step(*t, k, across_rows));
            std::sort(inside.begin(), inside.end());
            const double wrap = line_step(*t, tex_size - 1, across_rows);
            EXPECT_LE(wrap, inside[inside.size() * 9 / 10])
                << (t == &painted().a ? "texture_a" : "texture_b")
                << (across_rows ? " rows 255→0" : " columns 255→0");
        }
}

TEST(TunnelTextures, TopByteZeroAndEnoughContrast) {
    for (const auto* t : {&painted().a, &painted().b}) {
        double sum = 0, sum_sq = 0;
        for (const Pixel32 p : *t) {
            ASSERT_EQ(p >> 24, 0u);
            const double lum = 0.3 * channel(p, 2) + 0.59 * channel(p, 1) + 0.11 * channel(p, 0);
            sum += lum;
            sum_sq += lum * lum;
        }
        const double mean = sum / tex_texels, sd = std::sqrt(sum_sq / tex_texels - mean * mean);
        EXPECT_GT(sd, 25.0) << "too flat to show motion";
        EXPECT_GT(mean, 40.0);
        EXPECT_LT(mean, 200.0);
    }
}

TEST(TunnelTextures, TheTwoHalvesLookDifferent) {
    double mean[2][3] = {};
    const std::vector<Pixel32>* both[2] = {&painted().a, &painted().b};
    for (int k = 0; k < 2; ++k)
        for (const Pixel32 p : *both[k])
            for (int c = 0; c < 3; ++c) mean[k][c] += channel(p, c) / double{tex_texels};
    // Channel 2 is red, 0 is blue: the first half is warm, the second cold.
    EXPECT_GT(mean[0][2], mean[0][0] + 60);
    EXPECT_GT(mean[1][0], mean[1][2] + 30);
    double diff = 0;
    for (int i = 0; i < tex_texels; ++i) diff += texel_step(painted().a[i], painted().b[i]);
    EXPECT_GT(diff / tex_texels, 40.0);
}

TEST(TunnelTextures, GeneratedFilesHoldThePaintedTexelsLittleEndian) {
    const char* dir = std::getenv("VORTA_GEN_DIR");
    if (!dir) GTEST_SKIP() << "VORTA_GEN_DIR not set";
    for (const auto& [name, texels] :
         {std::pair{"texture_a.raw", &painted().a}, std::pair{"texture_b.raw", &painted().b}}) {
        const std::string path = std::string(dir) + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) GTEST_SKIP() << path << " not generated in this build";
        std::vector<unsigned char> bytes(4 * tex_texels + 1);
        const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        ASSERT_EQ(got, 262144u) << path;
        for (int i = 0; i < tex_texels; ++i) {
            const Pixel32 p = bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 |
                              static_cast<Pixel32>(bytes[4 * i + 3]) << 24;
            ASSERT_EQ(p, (*texels)[i]) << path << " texel " << i;
        }
    }
}

}  // namespace
