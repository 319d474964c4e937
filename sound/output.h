// The sound device: SDL2 audio output fed by the decoder, and the model of what is audible now.
// Functions that can fail return 1 on success, 0 on failure.
#pragma once

#include <cstdint>

// Opens the default output device at `rate` Hz, 16-bit stereo, paused. 0 when none opens.
int out_open(std::uint32_t rate);
// Closes the device and waits for its thread to finish. Safe when none is open.
void out_close();
// Starts output from the decoder's current position; the first frame played is frame 0.
void out_start();
// Pauses output; when it returns the decoder is no longer used by the audio thread.
void out_stop();
// The song frame the listener hears now (0 before output starts). Any thread.
std::uint64_t out_audible();
