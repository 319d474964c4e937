// The per-row set-up of the 8 × 8 block mapper, as the portable path does it one block at a time;
// the SIMD paths do the same arithmetic for several blocks at once, one per 32-bit lane.
#pragma once

#include <cstdint>

#include "tunnel/rays.h"

// All coordinate arithmetic wraps modulo 2^32 like the 32-bit registers it was made for; it is
// done on uint32_t so that wrapping is defined, and converted to int32_t only for the arithmetic
// shift right (modular conversion and arithmetic >> are both defined since C++20).
using mapper_u32 = std::uint32_t;

// The two edges of a block in 8.8 fixed point (texel × 256) and their steps per row.
struct MapperEdges {
    mapper_u32 uL, vL, uR, vR;      // left and right edge on the current row
    mapper_u32 duL, dvL, duR, dvR;  // added after each row: one eighth of the edge (× 32)
};

// Edges of the block with corners c00 (top left), c10 (top right), c01, c11 (bottom).
inline MapperEdges mapper_edges(TexCoord c00, TexCoord c10, TexCoord c01, TexCoord c11) {
    const auto w = [](std::int32_t x) { return static_cast<mapper_u32>(x); };
    return {w(c00.u) << 8,
            w(c00.v) << 8,
            w(c10.u) << 8,
            w(c10.v) << 8,
            (w(c01.u) - w(c00.u)) << 5,
            (w(c01.v) - w(c00.v)) << 5,
            (w(c11.u) - w(c10.u)) << 5,
            (w(c11.v) - w(c10.v)) << 5};
}

// The current row's first accumulator and per-pixel step, then the edges move one row down.
// acc and step hold u in the high 16-bit lane and v in the low one, each lane 8.8 with the
// texel in its upper byte.
inline void mapper_next_row(MapperEdges& e, mapper_u32* acc, mapper_u32* step) {
    const auto sar3 = [](mapper_u32 x) {
        return static_cast<mapper_u32>(static_cast<std::int32_t>(x) >> 3);
    };
    // Per-pixel steps across the row, 8.8: an eighth of the span (arithmetic shift).
    const mapper_u32 du = sar3(e.uR - e.uL), dv = sar3(e.vR - e.vL);
    // Packed by a plain 32-bit add ON PURPOSE: the u lane takes in v's bits above 16 (including
    // the borrow of a negative v or dv), which shifts u by up to a texel across deep or steep
    // blocks. That wobble is part of the picture.
    *acc = (e.uL << 16) + e.vL;
    *step = (du << 16) + dv;
    e.uL += e.duL;
    e.vL += e.dvL;
    e.uR += e.duR;
    e.vR += e.dvR;
}

// The texel index of an accumulator: u's integer byte selects the row, v's the column. Both are
// masked to 0..255, so no coordinate can index outside the texture.
inline mapper_u32 mapper_texel(mapper_u32 acc) {
    return ((acc >> 16) & 0xFF00u) | ((acc >> 8) & 0x00FFu);
}
