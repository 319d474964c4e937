// The 8 × 8 block texture mapper: bilinear 8.8 corner interpolation, two 16-bit lanes per pixel.
#include "tunnel/mapper.h"

#include <cassert>
#include <cstdint>

namespace {

// All coordinate arithmetic wraps modulo 2^32 like the 32-bit registers it was made for; it is
// done on uint32_t so that wrapping is defined, and converted to int32_t only for the arithmetic
// shift right (modular conversion and arithmetic >> are both defined since C++20).
using u32 = std::uint32_t;

inline u32 sar3(u32 x) {
    return static_cast<u32>(static_cast<std::int32_t>(x) >> 3);
}

// Adds two words as two independent 16-bit lanes, each modulo 65536: the carry out of the low
// (v) lane is dropped instead of reaching the high (u) lane, as a packed 16-bit add does.
inline u32 add_lanes16(u32 a, u32 b) {
    return ((a & 0xFFFF0000u) + (b & 0xFFFF0000u)) | ((a + b) & 0x0000FFFFu);
}

}  // namespace

void map_block_8x8(Pixel32* framebuffer, int x, int y, TexCoord c00, TexCoord c10, TexCoord c01,
                   TexCoord c11, const Pixel32* texture) {
    assert(x >= 0 && y >= 0 && x + 8 <= screen_width && y + 8 <= screen_height);
    // Edges in 8.8 fixed point (texel × 256); per-row steps are one eighth of an edge: × 32.
    u32 uL = static_cast<u32>(c00.u) << 8, vL = static_cast<u32>(c00.v) << 8;
    u32 uR = static_cast<u32>(c10.u) << 8, vR = static_cast<u32>(c10.v) << 8;
    const u32 duL = (static_cast<u32>(c01.u) - static_cast<u32>(c00.u)) << 5;
    const u32 dvL = (static_cast<u32>(c01.v) - static_cast<u32>(c00.v)) << 5;
    const u32 duR = (static_cast<u32>(c11.u) - static_cast<u32>(c10.u)) << 5;
    const u32 dvR = (static_cast<u32>(c11.v) - static_cast<u32>(c10.v)) << 5;

    Pixel32* row = framebuffer + y * screen_width + x;
    for (int r = 0; r < 8; ++r, row += screen_width) {
        // Per-pixel steps across the row, 8.8: an eighth of the span (arithmetic shift).
        const u32 du = sar3(uR - uL), dv = sar3(vR - vL);
        // acc and step: u in the high 16-bit lane, v in the low one, each lane 8.8 with the
        // texel in its upper byte. They are packed by a plain 32-bit add ON PURPOSE: the u lane
        // takes in v's bits above 16 (including the borrow of a negative v or dv), which shifts
        // u by up to a texel across deep or steep blocks. That wobble is part of the picture.
        u32 acc = (uL << 16) + vL;
        const u32 step = (du << 16) + dv;
        // Both lane bytes are masked to 0..255, so no coordinate can index outside the texture.
        for (int i = 0; i < 8; ++i) {
            row[i] = texture[((acc >> 16) & 0xFF00u) | ((acc >> 8) & 0x00FFu)];
            acc = add_lanes16(acc, step);
        }
        uL += duL;
        vL += dvL;
        uR += duR;
        vR += dvR;
    }
}

void tunnel_draw(Pixel32* framebuffer, const Pixel32* texture) {
    for (int by = 0; by < 30; ++by) {
        const TexCoord* top = uv_grid + by * grid_columns;
        const TexCoord* bottom = top + grid_columns;
        for (int bx = 0; bx < 40; ++bx)
            map_block_8x8(framebuffer, 8 * bx, 8 * by, top[bx], top[bx + 1], bottom[bx],
                          bottom[bx + 1], texture);
    }
}
