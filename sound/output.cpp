// SDL2 audio output: the callback decodes straight into the device buffer, and time stamps of
// the callbacks give the audible position.
//
// Audible position model. SDL calls the callback each time the device wants the next buffer of
// `period` frames. Its backends double-buffer: when the callback runs, the device still holds
// about one buffer that it is playing, so the first frame written by callback k is heard about
// `period` frames after the callback starts. With F_k the frames written before callback k and
// t_k the time it started, the frame heard at time t is
//     audible(t) = F_k - period + (t - t_k) × rate,
// capped at F_k + period, the end of what has been written. Each callback restamps the clock.
// A backend wakes the callback once a buffer's room is free, so the device then holds between
// none (a late wake-up; SDL's dummy driver) and one buffer: the estimate is behind the listener
// by at most one period as opened, 512 frames or 11.6 ms at 44100 Hz, under one 60 Hz frame.
#include "sound/output.h"

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "sound/decoder.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t requested_period = 512;  // frames per buffer; sets the error bound

static struct {
    SDL_AudioDeviceID device;
    std::uint32_t rate;
    std::uint32_t period;  // frames per buffer as opened
    bool subsystem_up;
    // Written by the callback only (reset while paused): frames handed to the device.
    std::atomic<std::uint64_t> written{0};
    // Callback stamp (F_k, t_k) under a sequence lock: odd `seq` while the callback writes it.
    std::atomic<std::uint32_t> seq{0};
    std::atomic<std::uint64_t> stamp_frames{0};
    std::atomic<std::int64_t> stamp_ns{0};
    std::atomic<bool> stamped{false};
} out;

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void SDLCALL out_callback(void*, Uint8* stream, int len) {
    const std::int64_t t = now_ns();
    const std::uint32_t frames = static_cast<std::uint32_t>(len) / 4;  // 16-bit stereo
    auto* pcm = reinterpret_cast<std::int16_t*>(stream);
    std::uint32_t filled = 0;
    while (filled < frames) {
        const std::uint32_t n = dec_step(pcm + 2 * filled, frames - filled);
        if (n == 0) break;  // the song has ended: the rest of the buffer is silence
        filled += n;
    }
    std::memset(pcm + 2 * filled, 0, (frames - filled) * 4);

    const std::uint64_t before = out.written.load(std::memory_order_relaxed);
    // Sequence lock without fences: a reader that sees either new value with its acquire load
    // also sees the odd count stored before it, and retries.
    const std::uint32_t s = out.seq.load(std::memory_order_relaxed);
    out.seq.store(s + 1, std::memory_order_relaxed);
    out.stamp_frames.store(before, std::memory_order_release);
    out.stamp_ns.store(t, std::memory_order_release);
    out.seq.store(s + 2, std::memory_order_release);
    out.stamped.store(true, std::memory_order_release);
    out.written.store(before + frames, std::memory_order_relaxed);
}

}  // namespace

int out_open(std::uint32_t rate) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
    out.subsystem_up = true;
    SDL_AudioSpec want{};
    SDL_AudioSpec have{};
    want.freq = static_cast<int>(rate);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = requested_period;
    want.callback = out_callback;
    // No changes allowed: SDL converts if the hardware differs, so the callback always gets
    // 16-bit stereo at `rate`.
    out.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (out.device == 0) {
        out_close();
        return 0;
    }
    out.rate = rate;
    out.period = have.samples ? have.samples : requested_period;
    return 1;
}

void out_close() {
    if (out.device) SDL_CloseAudioDevice(out.device);  // joins the audio thread
    out.device = 0;
    if (out.subsystem_up) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out.subsystem_up = false;
    out.stamped.store(false, std::memory_order_relaxed);
}

void out_start() {
    if (!out.device) return;
    out.written.store(0, std::memory_order_relaxed);
    out.stamped.store(false, std::memory_order_relaxed);
    SDL_PauseAudioDevice(out.device, 0);
}

void out_stop() {
    // SDL pauses under the device's lock, which the callback runs inside: once this returns
    // the callback has finished and is not called again.
    if (out.device) SDL_PauseAudioDevice(out.device, 1);
}

std::uint64_t out_audible() {
    if (!out.stamped.load(std::memory_order_acquire)) return 0;
    std::uint64_t frames;
    std::int64_t t;
    for (;;) {
        const std::uint32_t s = out.seq.load(std::memory_order_acquire);
        frames = out.stamp_frames.load(std::memory_order_acquire);
        t = out.stamp_ns.load(std::memory_order_acquire);
        if (!(s & 1) && s == out.seq.load(std::memory_order_relaxed)) break;
    }
    std::int64_t elapsed = now_ns() - t;
    // Callbacks come every period; a second's cap keeps the product below 2^64 should they stop.
    if (elapsed < 0) elapsed = 0;
    if (elapsed > 1000000000) elapsed = 1000000000;
    std::uint64_t ahead = static_cast<std::uint64_t>(elapsed) * out.rate / 1000000000u;
    // Nothing beyond the last buffer written can be heard.
    if (ahead > 2u * out.period) ahead = 2u * out.period;
    const std::uint64_t heard = frames + ahead;
    return heard > out.period ? heard - out.period : 0;
}

std::uint32_t out_period() {
    return out.period;
}
