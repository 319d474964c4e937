// A picture's signature for matching a screen grab to a music position: the mean luma of each
// 20 × 20 block of the 320 × 240 picture, compared after removing brightness and contrast.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

inline constexpr int sig_cols = 16, sig_rows = 12;
inline constexpr int sig_size = sig_cols * sig_rows;
inline constexpr int sig_block = screen_width / sig_cols;  // 20 pixels, also screen_height / 12

struct Signature {
    std::uint8_t luma[sig_size];
};

// The signature of a picture seen through `pixel(x, y)` (0x00RRGGBB) for x < 320, y < 240.
template <typename PixelAt>
Signature sig_of(PixelAt pixel) {
    Signature s{};
    for (int by = 0; by < sig_rows; ++by) {
        for (int bx = 0; bx < sig_cols; ++bx) {
            std::uint32_t sum = 0;
            for (int y = by * sig_block; y < (by + 1) * sig_block; ++y) {
                for (int x = bx * sig_block; x < (bx + 1) * sig_block; ++x) {
                    const std::uint32_t p = pixel(x, y);
                    sum += ((p >> 16 & 0xFF) * 77 + (p >> 8 & 0xFF) * 150 + (p & 0xFF) * 29) >> 8;
                }
            }
            s.luma[by * sig_cols + bx] = static_cast<std::uint8_t>(sum / (sig_block * sig_block));
        }
    }
    return s;
}

// Distance between two signatures, each first shifted to mean 0 and scaled to unit spread, so
// that a fade or flash over the whole picture changes little: 0 for equal pictures, up to 4.
double sig_distance(const Signature& a, const Signature& b);
