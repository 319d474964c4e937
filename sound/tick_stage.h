// Decoded sound handed to a device in pieces of whatever size it asks for, while the decoder is
// always asked for a whole tick: libopenmpt's rounding depends on how much it renders at a
// time, and whole ticks give the very samples of the offline decode.
#pragma once

#include <cstdint>
#include <cstring>

#include "sound/decoder.h"

// Room the decoder is always given: more than the longest tick (2.5 s / 32 BPM at 192 kHz is
// 15000 frames), as the offline decode asks for, so each decoder call renders exactly one tick.
inline constexpr std::uint32_t tick_stage_tick_room = 16384;
// When the stage runs dry, ticks are decoded back to back until this much is staged. A device
// wakes the output for every buffer it takes (86 times a second for 512 frames at 44.1 kHz);
// decoding a few ticks per wake-up, while libopenmpt's code and data are still in the caches,
// costs the audio thread less than one tick per wake-up.
inline constexpr std::uint32_t tick_stage_batch_frames = 2048;
inline constexpr std::uint32_t tick_stage_frames = tick_stage_batch_frames + tick_stage_tick_room;

struct TickStage {
    std::int16_t pcm[tick_stage_frames * 2];  // the staged ticks, interleaved 16-bit stereo
    std::uint32_t staged;                     // frames of them decoded
    std::uint32_t taken;                      // frames of them already handed out
};

// Forgets what is staged: after a rewind, the next fill starts with the decoder's next tick.
inline void tick_stage_reset(TickStage& s) {
    s.staged = s.taken = 0;
}

// Fills `frames` frames of `out` with the staged ticks and the ticks after them, decoding each
// whole; silence after the end of the song, so that a device keeps playing past it.
inline void tick_stage_fill(TickStage& s, std::int16_t* out, std::uint32_t frames) {
    std::uint32_t filled = 0;
    while (filled < frames) {
        if (s.taken == s.staged) {
            s.staged = s.taken = 0;
            while (s.staged < tick_stage_batch_frames) {
                const std::uint32_t n = dec_step(s.pcm + 2 * s.staged, tick_stage_tick_room);
                if (n == 0) break;
                s.staged += n;
            }
            if (s.staged == 0) break;  // the song has ended
        }
        std::uint32_t n = s.staged - s.taken;
        if (n > frames - filled) n = frames - filled;
        std::memcpy(out + 2 * filled, s.pcm + 2 * s.taken, n * 4);
        s.taken += n;
        filled += n;
    }
    std::memset(out + 2 * filled, 0, (frames - filled) * 4);
}
