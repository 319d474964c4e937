// Synthesis building blocks; all arithmetic is deterministic for a given build.
#include "tools/module/synth.h"

#include <algorithm>
#include <cmath>

float synth_noise(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    // Top 24 bits as a fraction in [0, 1), mapped to [-1, 1).
    return static_cast<float>(state >> 8) * (2.0f / 16777216.0f) - 1.0f;
}

void synth_onepole_init(SynthOnePole& f, double cutoff, double rate) {
    f.a = static_cast<float>(1.0 - std::exp(-2.0 * synth_pi * cutoff / rate));
    f.y = 0;
    f.x1 = 0;
}

float synth_lowpass(SynthOnePole& f, float x) {
    f.y += f.a * (x - f.y);
    return f.y;
}

float synth_highpass(SynthOnePole& f, float x) {
    return x - synth_lowpass(f, x);
}

void synth_bandpass_set(SynthBiquad& f, double centre, double q, double rate) {
    // The usual cookbook band-pass, normalised by a0.
    const double w = 2.0 * synth_pi * centre / rate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double a0 = 1.0 + alpha;
    f.b0 = static_cast<float>(alpha / a0);
    f.b2 = static_cast<float>(-alpha / a0);
    f.a1 = static_cast<float>(-2.0 * std::cos(w) / a0);
    f.a2 = static_cast<float>((1.0 - alpha) / a0);
}

float synth_biquad(SynthBiquad& f, float x) {
    const float y = f.b0 * x + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
    f.x2 = f.x1;
    f.x1 = x;
    f.y2 = f.y1;
    f.y1 = y;
    return y;
}

void synth_tune(XmSample& s, double rate, double f0) {
    // With a linear frequency table C-4 plays at 8363 Hz × 2^((relative + finetune/128) / 12).
    const double semis = 12.0 * std::log2(rate * synth_middle_c / (f0 * 8363.0));
    const int rel = static_cast<int>(std::lround(semis));
    const int fine = static_cast<int>(std::lround((semis - rel) * 128.0));
    s.relative_note = rel;
    s.finetune = std::clamp(fine, -128, 127);  // |fine| <= 64 after rounding; the clamp is a guard
}

namespace {
float peak_of(const std::vector<float>& x) {
    float p = 1e-9f;  // never divide by zero for a silent buffer
    for (float v : x) p = std::max(p, std::fabs(v));
    return p;
}

// Scales `x` so that its peak reaches `peak` × `full` and rounds it to samples of type T.
template <class T>
std::vector<T> to_pcm(const std::vector<float>& x, float peak, float full) {
    const float g = peak * full / peak_of(x);
    std::vector<T> out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = static_cast<T>(std::lround(x[i] * g));
    return out;
}
}  // namespace

std::vector<std::int16_t> synth_to_pcm16(const std::vector<float>& x, float peak) {
    return to_pcm<std::int16_t>(x, peak, 32767.0f);
}

std::vector<std::int8_t> synth_to_pcm8(const std::vector<float>& x, float peak) {
    return to_pcm<std::int8_t>(x, peak, 127.0f);
}

void synth_fade_tail(std::vector<float>& x, std::size_t frames) {
    frames = std::min(frames, x.size());
    for (std::size_t i = 0; i < frames; ++i)
        x[x.size() - 1 - i] *= static_cast<float>(i) / static_cast<float>(frames);
}
