// The show rendered offline by the program's own per-frame pass, one frame per millisecond of
// music, kept as signatures, with the moments the flash marks fall on.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/avsync/signature.h"

struct Reference {
    std::vector<Signature> frames;      // frame k: the picture for sample floor(k × 44.1)
    std::vector<double> flash_ms;       // where each flash row starts, ms from the song's start
    std::uint64_t first_sound = 0;      // the first song frame that is not silent
    std::vector<std::int16_t> opening;  // a second of stereo frames from first_sound on
};

// Renders the first `ms` milliseconds of the show. 0 when the sound layer refuses the module.
int reference_build(std::uint32_t ms, Reference* out);
