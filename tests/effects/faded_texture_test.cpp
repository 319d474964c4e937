// The faded texture: the fades of a frame applied in order, and kept only while they stay the
// same.
#include "effects/faded_texture.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(FadedTexture, ReusesTheKeptTextureOnlyWhileTheFadesFadeAlike) {
    // Reuse is seen by changing the source behind the kept result: a kept texture still shows
    // the texels it was made from, a remade one the new texels.
    Texture t = ramp(5);
    const Texture before = t;
    const Fade first[] = {{0xFFFFFF, 12}};
    ASSERT_TRUE(holds(faded_texture(t.data(), first), expected(before, {{0xFFFFFF, 12}})));
    const Texture other = ramp(77);
    std::copy(other.begin(), other.end(), t.begin());  // the same storage, new texels
    // 268 fades as 12 does (only the low 8 bits count): kept, not faded again.
    const Fade alike[] = {{0xFFFFFF, 268}};
    EXPECT_TRUE(holds(faded_texture(t.data(), alike), expected(before, {{0xFFFFFF, 12}})));
    // One step of the level: made again, from the texels there now.
    const Fade next[] = {{0xFFFFFF, 13}};
    EXPECT_TRUE(holds(faded_texture(t.data(), next), expected(t, {{0xFFFFFF, 13}})));
}

TEST(FadedTexture, AFullFadeLeavesOneColourWhateverTheTexelsAndTheFadesAfterIt) {
    const Texture a = ramp(7);
    const Fade full_white{0xFFFFFF, 255}, full_black{0x000000, -1}, wrapped{0x2080FF, 511},
        dim{0x000000, 100}, none{0xFFFFFF, 0};
    // Each list's faded texture must be one colour throughout, and that colour the one reported;
    // only the fades from the last full one on decide it.
    for (const auto& fades : {std::vector<Fade>{full_white}, std::vector<Fade>{full_black, dim},
                              std::vector<Fade>{dim, wrapped}, std::vector<Fade>{wrapped, none},
                              std::vector<Fade>{full_white, full_black}}) {
        Texture want = a;
        for (const Fade& f : fades)
            fade_to_color(want.data(), want.data(), texture_texels, f.color, f.amount);
        Pixel32 colour = 0xDEADBEEF;
        ASSERT_TRUE(faded_texture_uniform(fades, &colour));
        EXPECT_TRUE(std::all_of(want.begin(), want.end(), [&](Pixel32 p) { return p == colour; }))
            << "fades " << fades.size() << ", first amount " << fades[0].amount;
    }
    // Anything short of a full fade keeps the texels apart.
    Pixel32 colour = 0;
    for (const auto& fades : {std::vector<Fade>{}, std::vector<Fade>{dim, none},
                              std::vector<Fade>{{0xFFFFFF, 254}}, std::vector<Fade>{{0, 256}}})
        EXPECT_FALSE(faded_texture_uniform(fades, &colour));
}
