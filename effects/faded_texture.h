// The tunnel texture with a frame's fades already applied, for the mapper to draw from.
//
// A fade acts on each pixel alone, with the same terms for every pixel, and the mapper only
// copies texels: drawing from the faded texture gives exactly the pixels of fading the drawn
// frame, and fades 65536 texels instead of 76800 pixels. The fade levels stay the same for many
// frames in a row (a flash at rest, a fade that steps once a row), and those frames reuse the
// texture faded for the one before.
#pragma once

#include <cstdint>
#include <span>

#include "assets/pixel.h"

struct Fade {
    std::uint32_t color;
    std::int32_t amount;  // as fade_to_color takes it: only the low 8 bits count
};

// `texture` (texture_texels) with `fades` applied in their order: `texture` itself when there
// are none, otherwise a texture owned here that stays valid until the next call. A call with the
// same texture and fades alike returns the kept result without reading `texture` again, so a
// texture's texels must not change while it is in use (the show's never do). Up to
// faded_texture_max_fades fades; called from one thread.
inline constexpr int faded_texture_max_fades = 2;
const Pixel32* faded_texture(const Pixel32* texture, std::span<const Fade> fades);
// Whether `fades` turn every texel of any texture into one colour, and if so which, in
// `colour`: a fade by 255 keeps nothing of the texel (the first frame of a flash, the black of
// the very first frame), and the fades after it treat every texel alike.
bool faded_texture_uniform(std::span<const Fade> fades, Pixel32* colour);
