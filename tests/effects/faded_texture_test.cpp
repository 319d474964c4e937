// The faded texture: the fades of a frame applied in order, and kept only while they stay the
// same.
#include "effects/faded_texture.h"

#include <gtest/gtest.h>

#include <vector>

#include "effects/blend.h"

namespace {

using Texture = std::vector<Pixel32>;

Texture ramp(std::uint32_t seed) {
    Texture t(texture_texels);
    for (int i = 0; i < texture_texels; ++i) t[i] = (i * 2654435761u + seed) & 0x00FFFFFF;
    return t;
}

// The fades applied one after the other, the way a frame would be faded.
Texture expected(const Texture& source, std::initializer_list<Fade> fades) {
    Texture t = source;
    for (const Fade& f : fades)
        fade_to_color(t.data(), t.data(), texture_texels, f.color, f.amount);
    return t;
}

bool holds(const Pixel32* texture, const Texture& want) {
    return std::equal(want.begin(), want.end(), texture);
}

}  // namespace

TEST(FadedTexture, AppliesTheFadesInOrderAndFollowsEveryChange) {
    const Texture a = ramp(1), b = ramp(99);
    const Fade dim{0x000000, 191}, flash{0xFFFFFF, 0}, bright{0xFFFFFF, 40};

    EXPECT_EQ(faded_texture(a.data(), {}), a.data());  // no fade: the texture itself

    const Fade two[] = {dim, flash};
    EXPECT_TRUE(holds(faded_texture(a.data(), two), expected(a, {dim, flash})));
    // The same fades in the other order are another picture.
    const Fade swapped[] = {flash, dim};
    EXPECT_TRUE(holds(faded_texture(a.data(), swapped), expected(a, {flash, dim})));
    // One fade fewer, another amount, another colour, another texture: each is redone.
    const Fade one[] = {flash};
    EXPECT_TRUE(holds(faded_texture(a.data(), one), expected(a, {flash})));
    const Fade other_amount[] = {bright};
    EXPECT_TRUE(holds(faded_texture(a.data(), other_amount), expected(a, {bright})));
    const Fade other_colour[] = {{0x000000, 40}};
    EXPECT_TRUE(holds(faded_texture(a.data(), other_colour), expected(a, {{0x000000, 40}})));
    EXPECT_TRUE(holds(faded_texture(b.data(), other_colour), expected(b, {{0x000000, 40}})));
}

TEST(FadedTexture, KeepsTheResultWhileTheFadesFadeAlike) {
    const Texture a = ramp(5);
    const Fade first[] = {{0xFFFFFF, 12}};
    const Pixel32* made = faded_texture(a.data(), first);
    ASSERT_TRUE(holds(made, expected(a, {{0xFFFFFF, 12}})));
    // 268 fades as 12 does (only the low 8 bits count): the same texture, not faded twice.
    const Fade alike[] = {{0xFFFFFF, 268}};
    EXPECT_EQ(faded_texture(a.data(), alike), made);
    EXPECT_TRUE(holds(made, expected(a, {{0xFFFFFF, 12}})));
}
