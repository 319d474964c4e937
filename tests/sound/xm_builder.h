// Writes small XM modules for the sound tests: silent patterns carrying only effects.
#pragma once

#include <cstdint>
#include <vector>

// One effect cell: pattern `pattern`, row `row`, channel `channel`, effect number and parameter.
struct XmCell {
    int pattern, row, channel;
    std::uint8_t effect, param;
};

// The module to write: speed and BPM, the order list, each pattern's row count, the cells.
struct XmSong {
    int channels = 4;
    int speed = 3, bpm = 126;
    std::vector<int> orders;
    std::vector<int> pattern_rows;
    std::vector<XmCell> cells;
};

// Effect numbers as the XM file stores them: 0-9 then letters from A = 10, so W = 32.
inline constexpr std::uint8_t xm_effect_w = 32;
inline constexpr std::uint8_t xm_effect_pattern_break = 13;  // D
inline constexpr std::uint8_t xm_effect_set_speed = 15;      // F: below 0x20 speed, else BPM

// The bytes of an XM file (version 0x0104, no instruments) for `song`.
std::vector<std::uint8_t> xm_build(const XmSong& song);
