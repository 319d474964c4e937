// Pixel and screen constants shared by every module that touches pictures.
#pragma once

#include <cstdint>

// One pixel as a little-endian 32-bit word 0x00RRGGBB: bytes blue, green, red, then a
// fourth byte that is 0 in every stored image.
using Pixel32 = std::uint32_t;

// The presentation's fixed picture size; the framebuffer and every full-screen image use it.
inline constexpr int screen_width = 320;
inline constexpr int screen_height = 240;
inline constexpr int screen_pixels = screen_width * screen_height;  // 76800
// A tunnel texture: 256 × 256 texels, texel (u, v) at index u × 256 + v.
inline constexpr int texture_texels = 256 * 256;
