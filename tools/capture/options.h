// Command line of vorta-capture: what to render, which range, where to write it.
#pragma once

#include <cstdint>

#include "driver/show_sound.h"

inline constexpr std::uint32_t capture_rate = show_rate;  // audio frames per second of the song
inline constexpr std::uint64_t no_limit = UINT64_MAX;     // an open end of the range

struct CaptureOptions {
    std::uint32_t fps = 60;
    std::uint32_t scale = 4;             // nearest-neighbour factor of --video
    std::uint64_t from_sample = 0;       // floor(--from × 44100)
    std::uint64_t to_sample = no_limit;  // floor(--to × 44100), or the song's end
    const char* png_dir = nullptr;
    const char* raw_path = nullptr;
    const char* wav_path = nullptr;
    const char* video_path = nullptr;
    const char* sheet_path = nullptr;
    const char* assets_dir = nullptr;
    bool help = false;
    bool version = false;  // print the version and stop
};

// Reads argv into `out`. 1 on success; 0 after printing what is wrong to stderr.
int options_parse(int argc, char** argv, CaptureOptions* out);
// Prints the usage text to `stream` (a FILE*).
void options_usage(void* stream);
// Exact floor(seconds × 44100) of a decimal text "S", "S." or "S.F" (no sign, no exponent,
// at most 7 integer and 12 fraction digits). 1 on success, 0 on a malformed text.
int options_seconds_to_samples(const char* text, std::uint64_t* samples);
