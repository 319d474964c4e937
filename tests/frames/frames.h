// The show stepped at 60 frames per second on the offline sound device, and the comparison of
// two builds' frames: the pieces of vorta-frames that its test reaches.
#pragma once

#include <cstdint>
#include <span>

#include "assets/pixel.h"

inline constexpr std::uint32_t frames_fps = 60;
// Every 137th frame is kept: 61 frames over the song's 8229, at least one in each order (the
// shortest order lasts 64 rows, about 228 frames).
inline constexpr std::uint64_t frames_stride = 137;

// Where a kept frame stands in the song.
struct FrameInfo {
    std::uint64_t frame;     // frame number at 60 fps
    std::uint64_t sample;    // the sample it is composed at: floor(frame × 44100 / 60)
    std::uint32_t position;  // the sound layer's position (scaler 256) for that sample
};

// How alike two pictures of the same frame are.
struct FrameMatch {
    std::uint32_t same_pixels;  // pixels equal in all four bytes, of screen_pixels
    bool tunnel_free;           // the reference shows no tunnel: all black, or the end picture
    bool pass;                  // byte-identical when tunnel-free, else at least 99.9 % same
};

// Compares a picture with the reference picture of the same frame at order `order`. Frames of
// the end picture (order 18 on) and all-black frames must match byte for byte; tunnel frames may
// differ in a few pixels, where the C libraries' last-bit differences in atan2 and sin move a
// texel, but in no more than 0.1 % of them.
FrameMatch frames_match(std::span<const Pixel32> reference, std::span<const Pixel32> other,
                        std::int32_t order);

// Steps the show from its start through the whole song and hands every kept frame to `keep`
// (the picture is in `framebuffer` meanwhile). 1 on success; 0 after printing why.
int frames_run(void (*keep)(const FrameInfo& info, void* user), void* user);
