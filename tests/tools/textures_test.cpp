// The painted tunnel textures: they tile in both directions, keep the top byte 0, differ clearly
// from each other, and the generated files hold exactly what the painters paint.
#include "tools/textures/textures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Painted {
    Pixel32 t[2][tex_texels];
    Painted() { tex_paint_molten(t[0]), tex_paint_circuit(t[1]); }
};
const Pixel32* painted(int k) {
    static const Painted p;  // painted once, on first use
    return p.t[k];
}

int channel(Pixel32 p, int c) {  // 0 blue, 1 green, 2 red
    return static_cast<int>(p >> (8 * c) & 0xFF);
}
// Mean absolute difference over the three colour channels of two texels.
double texel_step(Pixel32 p, Pixel32 q) {
    double s = 0;
    for (int c = 0; c < 3; ++c) s += std::abs(channel(p, c) - channel(q, c));
    return s / 3;
}

TEST(TunnelTextures, WrapEdgesAreNoSharperThanTheInside) {
    // A seam would make the step from line 255 to line 0 stand out against the steps between
    // neighbouring lines inside: at least a tenth of those must be as large.
    for (int k = 0; k < 2; ++k)
        for (const int stride : {tex_size, 1}) {       // rows (u), then columns (v)
            const int across = tex_size + 1 - stride;  // the other direction's stride
            const auto step = [&](int line) {          // mean step from line to line + 1, mod 256
                double s = 0;
                for (int i = 0; i < tex_size; ++i)
                    s += texel_step(painted(k)[line * stride + i * across],
                                    painted(k)[(line + 1) % tex_size * stride + i * across]);
                return s / tex_size;
            };
            const double wrap = step(tex_size - 1);
            int as_large = 0;
            for (int line = 0; line < tex_size - 1; ++line) as_large += step(line) >= wrap;
            EXPECT_GE(as_large, 26) << "texture " << k << (stride == 1 ? " columns" : " rows");
        }
}

TEST(TunnelTextures, TopByteZeroAndTheHalvesLookDifferent) {
    double mean[2][3] = {}, diff = 0;
    for (int i = 0; i < tex_texels; ++i) {
        for (int k = 0; k < 2; ++k) {
            ASSERT_EQ(painted(k)[i] >> 24, 0u) << "texture " << k;
            for (int c = 0; c < 3; ++c)
                mean[k][c] += channel(painted(k)[i], c) / double{tex_texels};
        }
        diff += texel_step(painted(0)[i], painted(1)[i]);
    }
    EXPECT_GT(mean[0][2], mean[0][0] + 60);  // the first half is warm (red over blue)
    EXPECT_GT(mean[1][0], mean[1][2] + 30);  // the second cold
    EXPECT_GT(diff / tex_texels, 40.0);
}

TEST(TunnelTextures, GeneratedFilesHoldThePaintedTexelsLittleEndian) {
    for (int k = 0; k < 2; ++k) {
        const std::string path = std::string(VORTA_GEN_DIR "/texture_") + "ab"[k] + ".raw";
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) GTEST_SKIP() << path << " not generated in this build";
        static unsigned char b[4 * tex_texels + 1];  // one spare: a longer file shows
        const std::size_t got = std::fread(b, 1, sizeof b, f);
        std::fclose(f);
        ASSERT_EQ(got, 4u * tex_texels) << path;
        for (int i = 0; i < tex_texels; ++i)
            ASSERT_EQ(
                b[4 * i] | b[4 * i + 1] << 8 | b[4 * i + 2] << 16 | Pixel32{b[4 * i + 3]} << 24,
                painted(k)[i])
                << path << " texel " << i;
    }
}

}  // namespace
