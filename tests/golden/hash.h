// The hash the recorded frames are kept by, on its own so that any test can compare frames
// without the golden library and its PNG dependency.
#pragma once

#include <cstdint>

#include "assets/assets.h"
#include "assets/pixel.h"

// FNV-1a (64-bit) taken over the frame's 76800 pixel values as 32-bit units instead of bytes:
// h = (h xor pixel) × 0x100000001b3 from 0xcbf29ce484222325. The same on every platform, cheap
// enough for every frame of the show, and needs no PNG library.
inline std::uint64_t golden_hash(const Pixel32* frame) {
    std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a 64-bit offset basis
    for (int i = 0; i < screen_pixels; ++i) h = (h ^ frame[i]) * 0x100000001b3u;  // FNV prime
    return h;
}
