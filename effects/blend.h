// Whole-frame blends on the 320 × 240 framebuffer, in place. All four bytes of a pixel are
// treated alike as unsigned 8-bit channels.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// Moves every pixel toward `color` by amount mod 256 (0: keep, 255: the colour):
// out = ((p × (255 − a)) >> 8) + ((c × a) >> 8), limited to 255, per channel.
void fade_to_color(Pixel32* framebuffer, std::uint32_t color, std::int32_t amount);
// Multiplies every pixel by the mask pixel at the same position: out = (p × m) >> 8 per channel.
void multiply_mask(Pixel32* framebuffer, const Pixel32* mask);
// fade_to_color(framebuffer, color, amount), then multiply_mask(framebuffer, mask), in one pass
// over the frame: the same pixels for a little more than the cost of one of them.
void fade_and_mask(Pixel32* framebuffer, std::uint32_t color, std::int32_t amount,
                   const Pixel32* mask);
