// Frames for the video encoder: BT.709 studio-range YCbCr, upscaled by nearest neighbour with
// every big pixel's colour kept whole, chroma included.
#pragma once

#include <cstddef>
#include <cstdint>

#include "assets/pixel.h"

// One pixel's BT.709 studio-range values: luma 16 to 235, chroma 16 to 240 (128 for grey).
struct Yuv {
    std::uint8_t y, u, v;
};
Yuv yuv_from_rgb(Pixel32 p);

// With an even `scale` the chroma is 4:2:0, and each big pixel holds (scale / 2)² whole chroma
// samples of its own colour, so no chroma sample mixes two big pixels. With an odd scale a 4:2:0
// sample would straddle two of them: the chroma is then 4:4:4.
constexpr bool yuv_is_420(int scale) {
    return scale % 2 == 0;
}
// Bytes of one upscaled frame: the luma plane, then Cb, then Cr.
constexpr std::size_t yuv_frame_bytes(int w, int h, int scale) {
    const std::size_t luma = static_cast<std::size_t>(w) * scale * h * scale;
    return luma + 2 * (yuv_is_420(scale) ? luma / 4 : luma);
}
// Converts a w × h frame (rows w apart) and writes it upscaled `scale` times into `out`, planar
// (yuv_frame_bytes of it). w, h at most 320 × 240.
void yuv_upscale(const Pixel32* frame, int w, int h, int scale, std::uint8_t* out);
