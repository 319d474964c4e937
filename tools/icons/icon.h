// The application icon: the tunnel's mouth cut out of the closing picture as a round icon.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// Where the mouth sits in the closing picture, and the radius the icon shows of it (pixels).
inline constexpr float icon_mouth_x = 160.0f;
inline constexpr float icon_mouth_y = 118.0f;
inline constexpr float icon_mouth_radius = 95.0f;

// The icon sizes of the hicolor theme that are made, in pixels.
inline constexpr int icon_sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
inline constexpr int icon_max_size = 256;

// Renders the mouth of the 320 × 240 `picture` as a `size` × `size` icon into `rgba` (8-bit
// R, G, B, A per pixel, straight alpha, rows top to bottom): opaque inside the circle, clear
// outside it, its edge anti-aliased. 1 ≤ size ≤ icon_max_size.
void icon_render(const Pixel32* picture, int size, std::uint8_t* rgba);
