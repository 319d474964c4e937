// The sound layer's position value unpacked into the values that drive the show.
#pragma once

#include <cstdint>

struct MusicPosition {
    std::int32_t order;  // position in the module's order list
    float row;           // row within the pattern, with the fraction already played
    float time;          // order × 128 + row: rises by 1.0 per row, jumps after 64-row patterns
};

// Reads a position taken with the scaler at 256: low 16 bits the order, high 16 bits row × 256.
MusicPosition music_position(std::uint32_t position);
