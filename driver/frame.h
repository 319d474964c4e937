// The per-frame work of the main loop, shared by the live program and the offline capture.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// The picture of the current frame: 320 × 240, rows top to bottom, rows contiguous.
extern Pixel32 framebuffer[screen_pixels];

// One pass of the main loop for a position read from the sound layer (scaler 256): derives the
// clock, builds the camera from music_time and beat_count, traces the ray grid and composes
// framebuffer. The previous frame's music_time is the one of the previous call.
void demo_frame(std::uint32_t position);
// A pass of the main loop that shows nothing (the display is inactive): the clock and the sync
// state advance exactly as demo_frame would advance them, framebuffer is left as it is.
void demo_skip(std::uint32_t position);
// Back to the state at process start: clock, sync state and framebuffer all zero. The ray table
// is filled as well, so the next demo_frame can run.
void demo_reset();
