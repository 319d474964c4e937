// Blends of whole pictures. All four bytes of a pixel are treated alike as unsigned 8-bit
// channels.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// Moves `count` pixels of `in` toward `color` by amount mod 256 (0: keep, 255: the colour) and
// writes them to `out`, which may be `in`:
// out = ((p × (255 − a)) >> 8) + ((c × a) >> 8), limited to 255, per channel.
void fade_to_color(Pixel32* out, const Pixel32* in, int count, std::uint32_t color,
                   std::int32_t amount);
// Multiplies every pixel of the 320 × 240 frame by the mask pixel at the same position, in
// place: out = (p × m) >> 8 per channel.
void multiply_mask(Pixel32* framebuffer, const Pixel32* mask);
// multiply_mask with the grey mask whose pixel i is (0, g, g, g) for g = grey[i]: the same
// pixels from a quarter of the bytes.
void multiply_grey_mask(Pixel32* framebuffer, const std::uint8_t* grey);
