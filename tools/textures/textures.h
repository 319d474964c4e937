// The two tunnel textures, painted by code. Row u of a texture is the angle around the tunnel
// (256 rows per half turn, mirrored), column v the depth (256 columns = 8 units of tunnel); both
// directions wrap, so every feature is built from functions with periods dividing 256.
#pragma once

#include "assets/pixel.h"

inline constexpr int tex_size = 256;  // texels per side
inline constexpr int tex_texels = tex_size * tex_size;

// First half: molten rock, glowing veins and rings of fire. Fills tex_texels pixels, top byte 0.
void tex_paint_molten(Pixel32* out);
// Second half: steel panels, circuitry and cyan light strips. Fills tex_texels pixels, top byte 0.
void tex_paint_circuit(Pixel32* out);
// Packs 0..1 colour channels (clamped) into a Pixel32 with top byte 0.
Pixel32 tex_rgb(double r, double g, double b);
