// The scene timeline: a fixed script, keyed on the order index, that composes each frame.
#pragma once

#include "assets/pixel.h"
#include "driver/music_position.h"

// Composes `framebuffer` for this frame's music position; `previous_time` is the previous frame's
// music_time. The camera and ray grid must already be traced for a frame that draws from them
// (timeline_needs_grid). Reads and updates the sync state (flash decay, the one beat reset
// when the second half begins).
void timeline_compose(Pixel32* framebuffer, const MusicPosition& now, float previous_time);
// What composing the frame for `now` does to the sync state, without drawing it: the flash's
// decay and the one beat reset. timeline_compose ends with it.
void timeline_advance(const MusicPosition& now, float previous_time);
// Whether the frame of `order` shows the tunnel: false from order 18 on, where the end picture
// covers the whole frame and the camera and ray grid go unused.
constexpr bool timeline_shows_tunnel(int order) {
    return order <= 17;
}
// Whether the frame for `now` draws the tunnel from the traced grid: not the end picture, and not
// a frame whose fades turn the whole texture into one colour (the first frame of a flash, the
// black first frame of the show), which is then that colour wherever the grid points. Reads the
// sync state as timeline_compose will for the same frame.
bool timeline_needs_grid(const MusicPosition& now);
