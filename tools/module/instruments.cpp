// Instrument synthesis: drums as one-shots at 44100 Hz, tonal sounds as additive waves whose
// loops hold a whole number of cycles of every partial, so they loop without a click.
#include "tools/module/instruments.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "tools/module/synth.h"

namespace {

constexpr double rate_hi = 44100.0;
constexpr double rate_lo = 22050.0;

double sec(std::size_t i, double rate) {
    return static_cast<double>(i) / rate;
}

XmEnvelope envelope(std::initializer_list<std::pair<int, int>> pts, int sustain) {
    XmEnvelope e;
    for (auto [x, y] : pts) {
        e.x[e.points] = static_cast<std::uint16_t>(x);
        e.y[e.points] = static_cast<std::uint16_t>(y);
        ++e.points;
    }
    e.on = true;
    e.use_sustain = sustain >= 0;
    e.sustain = sustain < 0 ? 0 : sustain;
    return e;
}

// Soft-clips a wave normalised to its peak: denser sound, so more loudness for the same peak.
void saturate(std::vector<float>& x, double drive) {
    float peak = 1e-9f;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    for (float& v : x) v = static_cast<float>(std::tanh(drive * v / peak));
}

XmInstrument one_shot(const char* name, std::vector<float> x, int pan, double rate, double f0,
                      float peak = 0.95f) {
    XmInstrument in;
    in.name = name;
    in.sample.name = name;
    synth_fade_tail(x, 64);
    in.sample.pcm16 = synth_to_pcm16(x, peak);
    in.sample.panning = pan;
    synth_tune(in.sample, rate, f0);
    return in;
}

// Kick: a sine falling from a click to 48 Hz, softly saturated for weight.
XmInstrument kick() {
    std::vector<float> x(18522);
    std::uint32_t seed = 0x1234567u;
    double phase = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = sec(i, rate_hi);
        const double f = 48.0 + 150.0 * std::exp(-t / 0.03) + 500.0 * std::exp(-t / 0.004);
        phase += 2.0 * synth_pi * f / rate_hi;
        const double amp = std::exp(-t / 0.24) * std::min(1.0, t / 0.0008);
        const double click = synth_noise(seed) * std::exp(-t / 0.0015) * 0.25;
        x[i] =
            static_cast<float>(std::tanh(3.0 * (std::sin(phase) * amp + click)) / std::tanh(3.0));
    }
    return one_shot("kick", x, 128, rate_hi, synth_middle_c);
}

// Snare: a pitched body plus band-limited noise struck three times like a clap.
XmInstrument snare() {
    std::vector<float> x(14112);
    std::uint32_t seed = 0xBADC0DEu;
    SynthOnePole hp, lp;
    synth_onepole_init(hp, 1200.0, rate_hi);
    synth_onepole_init(lp, 9000.0, rate_hi);
    double phase = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = sec(i, rate_hi);
        phase += 2.0 * synth_pi * (175.0 + 60.0 * std::exp(-t / 0.01)) / rate_hi;
        const double body = std::sin(phase) * std::exp(-t / 0.045) * 0.7;
        double burst = std::exp(-t / 0.13) * 0.75;
        for (double at : {0.0, 0.009, 0.018})
            if (t >= at) burst += std::exp(-(t - at) / 0.004) * 0.6;
        const float n = synth_lowpass(lp, synth_highpass(hp, synth_noise(seed)));
        x[i] = static_cast<float>(std::tanh(2.5 * (body + n * burst)));
    }
    return one_shot("snare", x, 120, rate_hi, synth_middle_c, 0.9f);
}

// Hats: six detuned square waves (a metallic cluster) and noise, high-passed twice.
std::vector<float> metal(std::size_t frames, double decay, std::uint32_t seed) {
    static const double freqs[6] = {3270.0, 4870.0, 5910.0, 7350.0, 8640.0, 10240.0};
    std::vector<float> x(frames);
    SynthOnePole hp1, hp2;
    synth_onepole_init(hp1, 6500.0, rate_hi);
    synth_onepole_init(hp2, 6500.0, rate_hi);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = sec(i, rate_hi);
        double m = 0;
        for (double f : freqs) m += std::fmod(t * f, 1.0) < 0.5 ? 1.0 : -1.0;
        const double v = (m / 6.0 * 0.5 + synth_noise(seed) * 0.8) * std::exp(-t / decay) *
                         std::min(1.0, t / 0.0005);
        x[i] = synth_highpass(hp2, synth_highpass(hp1, static_cast<float>(v)));
    }
    return x;
}

XmInstrument closed_hat(bool extra) {
    std::vector<float> x = metal(extra ? 3088 : 3087, 0.017, 0x51DEu);
    synth_fade_tail(x, 64);
    XmInstrument in;
    in.name = in.sample.name = "closed hat";
    // 8 bits are plenty for a 70 ms burst of noise; it also lets the file length be odd.
    in.sample.sixteen_bit = false;
    in.sample.pcm8 = synth_to_pcm8(x, 0.95f);
    in.sample.panning = 156;
    synth_tune(in.sample, rate_hi, synth_middle_c);
    return in;
}

XmInstrument open_hat() {
    return one_shot("open hat", metal(18522, 0.15, 0xFEEDu), 96, rate_hi, synth_middle_c);
}

// Crash: bright noise with a metallic shimmer and a long tail; length set by the caller.
XmInstrument crash(std::size_t frames) {
    std::vector<float> x(frames);
    std::uint32_t seed = 0xC0FFEEu;
    SynthOnePole hp, lp;
    synth_onepole_init(hp, 3000.0, rate_hi);
    synth_onepole_init(lp, 14000.0, rate_hi);
    const double len = sec(frames, rate_hi);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = sec(i, rate_hi);
        const double shimmer = 1.0 + 0.3 * std::sin(2.0 * synth_pi * 6.0 * t) * std::exp(-t / 0.5);
        // Exponential decay, bent to reach 0 exactly at the end of the sample.
        const double env = std::exp(-t / (0.25 * len)) * (1.0 - t / len) * std::min(1.0, t / 0.002);
        const float n = synth_lowpass(lp, synth_highpass(hp, synth_noise(seed)));
        x[i] = static_cast<float>(n * env * shimmer);
    }
    return one_shot("crash", x, 100, rate_hi, synth_middle_c, 0.9f);
}

// Adds the harmonics of f0 (Hz) with amplitudes amp(n, t) to every frame of x.
template <class Amp>
void additive(std::vector<float>& x, double rate, double f0, int harmonics, Amp amp,
              double phase0 = 0) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = sec(i, rate);
        double v = 0;
        for (int n = 1; n <= harmonics; ++n)
            v += amp(n, t) * std::sin(2.0 * synth_pi * n * f0 * t + phase0 * n);
        x[i] += static_cast<float>(v);
    }
}

// Bass: a low-passed saw over a sine sub. The filter opens on the attack and closes to a fixed
// tone by frame `attack`, after which one 800-frame cycle loops.
XmInstrument bass() {
    constexpr std::size_t cycle = 800, attack = 12 * cycle;
    const double f0 = rate_hi / cycle;  // 55.125 Hz, an A1 tuned by finetune
    const double a_end = sec(attack, rate_hi);
    std::vector<float> x(attack + cycle, 0.0f);
    auto amp = [&](int n, double t) {
        const double open = t < a_end ? (std::exp(-t / 0.05) - std::exp(-a_end / 0.05)) : 0.0;
        const double fc = 420.0 + 2600.0 * open;
        const double r = n * f0 / fc;
        return (n == 1 ? 1.2 : 1.0 / n) / std::sqrt(1.0 + r * r * r * r);
    };
    additive(x, rate_hi, f0, 60, amp);
    XmInstrument in;
    in.name = in.sample.name = "bass";
    in.sample.pcm16 = synth_to_pcm16(x, 0.95f);
    in.sample.loop = 1;
    in.sample.loop_start = attack;
    in.sample.loop_length = cycle;
    in.sample.panning = 128;
    synth_tune(in.sample, rate_hi, f0);
    in.volume_env = envelope({{0, 64}, {8, 50}, {40, 44}}, 2);
    in.fadeout = 6000;  // short release: the bass gets out of the kick's way
    return in;
}

// Saw partials of several detuned oscillators. Every oscillator frequency is a whole number of
// cycles per loop, so a loop of `frames` frames repeats seamlessly.
void detuned_saws(std::vector<float>& x, double rate,
                  std::initializer_list<std::pair<double, double>> osc, double cutoff, double top) {
    std::uint32_t seed = 0xA5A5u;
    for (auto [f, gain] : osc) {
        const double phase =
            (synth_noise(seed) + 1.0) * synth_pi;  // spread phases: no big peak at 0
        const int harmonics = static_cast<int>(top / f);
        auto amp = [&](int n, double) {
            const double r = n * f / cutoff;
            return gain / n / std::sqrt(1.0 + r * r * r * r);
        };
        additive(x, rate, f, harmonics, amp, phase);
    }
}

// Pad: five saws around 220 Hz, soft and wide; slow volume attack, long release.
XmInstrument pad() {
    std::vector<float> x(22050, 0.0f);  // one second at 22050 Hz: 1 Hz grid of frequencies
    detuned_saws(x, rate_lo, {{218, 1.0}, {220, 1.0}, {222, 1.0}, {439, 0.3}, {441, 0.3}}, 1500.0,
                 5000.0);
    saturate(x, 2.0);
    XmInstrument in;
    in.name = in.sample.name = "pad";
    in.sample.pcm16 = synth_to_pcm16(x, 0.95f);
    in.sample.loop = 1;
    in.sample.loop_start = 0;
    in.sample.loop_length = static_cast<std::uint32_t>(x.size());
    synth_tune(in.sample, rate_lo, 220.0);
    in.volume_env = envelope({{0, 0}, {20, 64}, {50, 50}}, 2);
    in.fadeout = 1100;
    return in;
}

// Lead: two saws and a square around 440 Hz with a bright attack and delayed vibrato.
XmInstrument lead() {
    constexpr std::size_t attack = 4410, loop = 22050;  // loop of 0.5 s: a 2 Hz frequency grid
    std::vector<float> x(attack + loop, 0.0f);
    const double a_end = sec(attack, rate_hi);
    std::uint32_t seed = 0x1EADu;
    struct Osc {
        double f, gain;
        bool odd_only;  // a square wave: odd harmonics only
    };
    for (const Osc& o : {Osc{438.0, 0.8, false}, Osc{442.0, 0.8, false}, Osc{440.0, 0.7, true}}) {
        const double f = o.f, gain = o.gain;
        const bool odd_only = o.odd_only;
        const double phase = (synth_noise(seed) + 1.0) * synth_pi;
        auto amp = [&](int n, double t) {
            if (odd_only && n % 2 == 0) return 0.0;
            const double open = t < a_end ? (std::exp(-t / 0.03) - std::exp(-a_end / 0.03)) : 0.0;
            const double r = n * f / (2400.0 + 5000.0 * open);
            return gain / n / std::sqrt(1.0 + r * r * r * r);
        };
        additive(x, rate_hi, f, 20, amp, phase);
    }
    saturate(x, 1.8);
    XmInstrument in;
    in.name = in.sample.name = "lead";
    in.sample.pcm16 = synth_to_pcm16(x, 0.95f);
    in.sample.loop = 1;
    in.sample.loop_start = attack;
    in.sample.loop_length = loop;
    synth_tune(in.sample, rate_hi, 440.0);
    in.volume_env = envelope({{0, 64}, {6, 54}, {30, 48}}, 2);
    in.fadeout = 1800;
    in.vibrato_type = 0;    // sine
    in.vibrato_sweep = 40;  // ticks until full depth: long notes bloom, short ones stay straight
    in.vibrato_depth = 6;
    in.vibrato_rate = 10;
    return in;
}

// Pluck: harmonics of 440 Hz that die away faster the higher they are, like a plucked string.
XmInstrument pluck() {
    std::vector<float> x(26460, 0.0f);
    auto amp = [](int n, double t) {
        return std::pow(static_cast<double>(n), -1.1) * std::exp(-t * (3.0 + 1.6 * n)) *
               std::min(1.0, t / 0.001);
    };
    additive(x, rate_hi, 440.0, 22, amp);
    return one_shot("pluck", x, 128, rate_hi, 440.0);
}

// Riser: noise through a band-pass sweeping up four octaves while it swells; ends at the bar.
XmInstrument riser() {
    std::vector<float> x(39375);  // 30 rows at 22050 Hz: stops a 16th before the downbeat
    std::uint32_t seed = 0x7153u;
    SynthBiquad bp;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double u = static_cast<double>(i) / static_cast<double>(x.size());
        synth_bandpass_set(bp, 250.0 * std::pow(2.0, 4.0 * u), 3.0, rate_lo);
        x[i] = synth_biquad(bp, synth_noise(seed)) * static_cast<float>(u * u);
    }
    return one_shot("riser", x, 128, rate_lo, synth_middle_c, 0.9f);
}

}  // namespace

std::vector<XmInstrument> inst_build(std::size_t crash_frames, bool hat_extra_frame) {
    assert(crash_frames >= inst_min_crash_frames);
    std::vector<XmInstrument> all;
    all.push_back(kick());
    all.push_back(snare());
    all.push_back(closed_hat(hat_extra_frame));
    all.push_back(open_hat());
    all.push_back(crash(crash_frames));
    all.push_back(bass());
    all.push_back(pad());
    all.push_back(lead());
    all.push_back(pluck());
    all.push_back(riser());
    return all;
}
