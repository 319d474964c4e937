// SDL2 audio output: the callback copies decoded ticks into the device buffer, and time stamps
// of the callbacks give the audible position.
// Whole decoded ticks go out in the device's pieces (sound/tick_stage.h), so the device plays
// the very samples of the offline decode.
//
// Audible position (sound/audible.h). SDL calls the callback each time the device wants the next
// buffer of `period` frames. With F_k the frames written before callback k, t_k the time it
// started (or returned, below) and q the frames the device still holds, unplayed, at that
// moment, the frame heard at time t is
//     audible(t) = F_k - q + (t - t_k) × rate,
// capped at F_k + period, the end of what has been written. Each callback restamps the clock.
// What the device's queue holds depends on SDL's backend, so q is set per driver when the
// device opens:
// - "disk" and "dummy" take the buffer the moment the callback returns (the disk driver writes
//   it to its file, then sleeps one period) and hold nothing else: q = 0, and t_k is taken as
//   the callback returns, so time spent decoding does not count as played. The estimate then
//   reaches a frame when the buffer holding it has been written, plus its offset in that buffer
//   at the song's rate: centred on the device, not a buffer behind it.
// - The sound-card backends are double-buffered: SDL wakes the callback once a buffer's room is
//   free, while the device still plays the one before, so about one period is queued: q = period.
//   Between a late wake-up (less queued) and the mixer's own latency (more), one period is the
//   middle of what they hold.
// The remaining error is the callback's wake-up jitter and its own run time, well under a period
// (512 frames, 11.6 ms at 44100 Hz).
#include "sound/output.h"

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "sound/audible.h"
#include "sound/tick_stage.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t requested_period = 512;  // frames per buffer; sets the error bound

static struct {
    SDL_AudioDeviceID device;
    std::uint32_t rate;
    std::uint32_t period;  // frames per buffer as opened
    std::uint32_t queued;  // frames the device holds when a callback starts (see the top)
    bool subsystem_up;
    // Written by the callback only (reset while paused): frames handed to the device.
    std::atomic<std::uint64_t> written{0};
    // Callback stamp (F_k, t_k) under a sequence lock: odd `seq` while the callback writes it.
    std::atomic<std::uint32_t> seq{0};
    std::atomic<std::uint64_t> stamp_frames{0};
    std::atomic<std::int64_t> stamp_ns{0};
    std::atomic<bool> stamped{false};
    // Decoded ticks waiting to be copied into device buffers; callback only (reset while
    // paused).
    TickStage stage;
} out;

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void SDLCALL out_callback(void*, Uint8* stream, int len) {
    const std::int64_t called = now_ns();
    const std::uint32_t frames = static_cast<std::uint32_t>(len) / 4;  // 16-bit stereo
    auto* pcm = reinterpret_cast<std::int16_t*>(stream);
    tick_stage_fill(out.stage, pcm, frames);
    // A device that takes the buffer as the callback returns starts it then, however long the
    // decoding took; a double-buffered one kept playing from the moment it called.
    const std::int64_t t = out.queued == 0 ? now_ns() : called;

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
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool takes_at_once =
        driver && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0);
    out.queued = takes_at_once ? 0 : out.period;
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
    tick_stage_reset(out.stage);  // paused: the callback is not running
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
    const AudibleDevice device{out.rate, out.period, out.queued};
    return audible_frame(device, AudibleStamp{frames, t}, now_ns());
}
