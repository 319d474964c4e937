// The 8 × 8 block texture mapper that fills the frame from uv_grid. Any corner values are valid:
// every texel read stays inside the 256 × 256 texture.
#pragma once

#include "assets/pixel.h"
#include "tunnel/rays.h"

// Draws the whole 320 × 240 frame as 40 × 30 blocks, corners taken from uv_grid. `texture` is
// 256 × 256 texels: texel (u, v) at index (u mod 256) × 256 + (v mod 256).
void tunnel_draw(Pixel32* framebuffer, const Pixel32* texture);
// Draws the 8 × 8 block whose top-left pixel is (x, y), interpolating the corner coordinates
// c00 (top left), c10 (top right), c01 (bottom left) and c11 (bottom right) in 8.8 fixed point
// across the block. x, y must leave the block inside the 320 × 240 frame.
void map_block_8x8(Pixel32* framebuffer, int x, int y, TexCoord c00, TexCoord c10, TexCoord c01,
                   TexCoord c11, const Pixel32* texture);
