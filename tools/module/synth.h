// Small building blocks for synthesising the instruments: noise, filters, tuning, conversion.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/module/xm_writer.h"

inline constexpr double synth_pi = 3.14159265358979323846;

// White noise in [-1, 1) from a 32-bit xorshift state (deterministic, never 0 if seeded non-zero).
float synth_noise(std::uint32_t& state);

// One-pole low-pass / high-pass, cutoff in Hz at sample rate `rate`.
struct SynthOnePole {
    float a = 0, y = 0, x1 = 0;
};
void synth_onepole_init(SynthOnePole& f, double cutoff, double rate);
float synth_lowpass(SynthOnePole& f, float x);
float synth_highpass(SynthOnePole& f, float x);

// Band-pass biquad (constant 0 dB peak gain); coefficients may change every sample.
struct SynthBiquad {
    float b0 = 0, b2 = 0, a1 = 0, a2 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};
void synth_bandpass_set(SynthBiquad& f, double centre, double q, double rate);
float synth_biquad(SynthBiquad& f, float x);

// Sets relative note and finetune of a sample recorded at `rate` whose fundamental is `f0` Hz
// so that every note sounds at its true pitch (C-4 = 261.63 Hz). Drums pass f0 = synth_middle_c
// so that C-4 plays them back at exactly their recording rate.
inline constexpr double synth_middle_c = 261.6255653;
void synth_tune(XmSample& s, double rate, double f0);

// Scales `x` so its largest magnitude becomes `peak` (0..1) and stores it as 16 or 8 bits.
std::vector<std::int16_t> synth_to_pcm16(const std::vector<float>& x, float peak);
std::vector<std::int8_t> synth_to_pcm8(const std::vector<float>& x, float peak);

// Ramps the last `frames` values linearly to 0, so a one-shot never ends on a click.
void synth_fade_tail(std::vector<float>& x, std::size_t frames);
