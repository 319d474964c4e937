// The scene timeline: a fixed script, keyed on the order index, that composes each frame.
#pragma once

#include "assets/pixel.h"
#include "driver/music_clock.h"

// Composes `framebuffer` for the clock of this frame; `previous_time` is the previous frame's
// music_time. The camera and ray grid must already be traced for this frame. Reads and updates
// the sync state (flash decay, the one beat reset when the second half begins).
void timeline_compose(Pixel32* framebuffer, const MusicClock& now, float previous_time);
