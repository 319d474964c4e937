// Serialises a song held in plain structs into the bytes of an XM module (version 0x0104).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One pattern cell; 0 in a field means "empty". note: 1 = C-0 .. 96 = B-7, 97 = key off.
// volume: the volume-column byte (0x10 + v sets volume v, 0 to 64). effect: 0..35 (32 = W).
struct XmCell {
    std::uint8_t note = 0, instrument = 0, volume = 0, effect = 0, param = 0;
    bool has_effect = false;  // set when effect/param must be stored even if both are 0 (W00)
};

inline constexpr std::uint8_t xm_key_off = 97;
inline constexpr std::uint8_t xm_effect_w = 32;   // letter W: a sync mark, parameter = data value
inline constexpr std::uint8_t xm_effect_pan = 8;  // 8xx: set panning 0..255

struct XmPattern {
    int rows = 0;
    std::vector<XmCell> cells;  // rows × channels, row-major
};

// Volume or panning envelope: up to 12 points (x in ticks, y 0..64).
struct XmEnvelope {
    int points = 0;
    std::uint16_t x[12] = {}, y[12] = {};
    int sustain = 0, loop_start = 0, loop_end = 0;
    bool on = false, use_sustain = false, use_loop = false;
};

struct XmSample {
    bool sixteen_bit = true;
    std::vector<std::int16_t> pcm16;                // used when sixteen_bit
    std::vector<std::int8_t> pcm8;                  // used otherwise
    int loop = 0;                                   // 0 none, 1 forward, 2 ping-pong
    std::uint32_t loop_start = 0, loop_length = 0;  // in sample frames
    int volume = 64;                                // 0..64
    int finetune = 0;                               // -128..127, 1/128 semitone
    int relative_note = 0;                          // semitones added to the played note
    int panning = 128;                              // 0 left .. 255 right
    std::string name;
};

struct XmInstrument {
    std::string name;
    XmSample sample;  // one sample per instrument, mapped to every note
    XmEnvelope volume_env, panning_env;
    int vibrato_type = 0, vibrato_sweep = 0, vibrato_depth = 0, vibrato_rate = 0;
    int fadeout = 0;  // subtracted per tick from 65536 after key off
};

struct XmSong {
    std::string name, tracker;
    int channels = 0, tempo = 0, bpm = 0, restart = 0;
    bool linear_frequencies = true;
    std::vector<std::uint8_t> orders;
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
};

// Bytes of the whole module. Asserts on programmer errors (sizes out of range).
std::vector<std::uint8_t> xm_write(const XmSong& song);

// Bytes that everything but the sample data takes (header, patterns, instrument headers).
std::size_t xm_size_without_sample_data(const XmSong& song);

// Bytes of one sample's data as stored.
std::size_t xm_sample_data_size(const XmSample& s);
