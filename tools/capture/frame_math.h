// Where each captured frame sits in the song: integer sample arithmetic only.
#pragma once

#include <cstdint>

#include "tools/capture/options.h"

// The sample at which frame k is composed: floor(k × 44100 / fps).
constexpr std::uint64_t frame_sample(std::uint64_t k, std::uint32_t fps) {
    return k * capture_rate / fps;
}

// The first frame composed at or after `sample`: the smallest k with frame_sample(k) ≥ sample.
constexpr std::uint64_t first_frame_at(std::uint64_t sample, std::uint32_t fps) {
    // frame_sample(k) ≥ sample ⇔ k × 44100 ≥ sample × fps, as `sample` is whole.
    return (sample * fps + capture_rate - 1) / capture_rate;
}

static_assert(frame_sample(8228, 60) == 6047580 && frame_sample(8229, 60) == 6048315);
static_assert(frame_sample(1, 24) == 1837 && first_frame_at(1838, 24) == 2);
