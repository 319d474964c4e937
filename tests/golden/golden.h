// Golden frames: the show stepped at 60 frames per second on the offline sound device, a list of
// chosen frames with their hashes, and the comparison of a frame against its recorded picture.
// Functions that read or write files return 1 on success and 0 after printing the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "assets/pixel.h"
#include "tests/golden/hash.h"

// What the walk knows about one frame, taken around its demo_frame call.
struct GoldenStep {
    std::uint64_t k;              // frame index: composed at sample k × 44100 / 60
    std::uint32_t position;       // the sound layer's position (scaler 256)
    int order;                    // order index of the position
    float row;                    // row with its fraction
    float flash_before;           // flash_level as the frame found it
    std::int32_t mask_selection;  // as the frame found it
    std::int32_t beats_before;    // beat_count as the frame's camera used it
    bool drew_grid;               // whether the frame drew from the traced grid
};

// Called after each frame has been composed into framebuffer.
using GoldenVisit = std::function<void(const GoldenStep& step)>;

// Plays the whole show through demo_frame, frame 0 to the last, in order (flashes, beats and
// the second-half reset depend on history). Returns the number of frames, 0 if the sound
// layer did not start.
std::uint64_t golden_walk(const GoldenVisit& visit);

// One frame of the recorded show: its index, the hash of its 76800 words, where it lies, and
// why it was kept as a picture (one word), or "-" when only its hash is recorded.
struct GoldenEntry {
    std::uint64_t k;
    std::uint64_t hash;
    int order;
    float row;
    std::string label;
};

// Reads the frame list (one entry a line: k, hash in hex, order, row, label; # starts a comment).
int golden_read_list(const std::string& path, std::vector<GoldenEntry>& out);
// Writes the frame list, complete or not at all.
int golden_write_list(const std::string& path, const std::vector<GoldenEntry>& list);
// The picture file of frame k inside the golden folder: frame_KKKKK.png.
std::string golden_png_name(std::uint64_t k);

// Counts the pixels where `actual` differs from `expected` (all four bytes compared). When `diff`
// is not null it receives a picture of the differences: equal pixels as a dim grey copy of the
// expected picture, differing ones in full red.
int golden_compare(const Pixel32* expected, const Pixel32* actual, Pixel32* diff);
