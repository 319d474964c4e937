// The song decoded on a thread of its own, ahead of the frames that are composed from it. The
// decoding thread owns the sound layer from decode_ahead_start to decode_ahead_finish; it hands
// over, frame by frame, the position and the sync marks delivered up to that frame's sample,
// and the marks are replayed on the caller's thread just before the frame, in their order. The
// frames, and everything the sound layer writes (the PCM sink runs on the decoding thread), are
// thus exactly those of decoding and composing in turn on one thread.
#pragma once

#include <cstdint>

// Starts decoding frames k = 0, 1, ... at frame_sample(k, fps) while that sample is below
// `to_sample` and inside the song; then, if to_sample is not no_limit, the sound on to it. The
// module must be loaded and playing with the scaler at 256 and no sync procedure yet. 1 on
// success, 0 (with a message) if the thread did not start.
int decode_ahead_start(std::uint32_t fps, std::uint64_t to_sample);
// Waits for the next frame: replays its sync marks through sync_event_proc and gives its sample
// and position. 0 when no frame is left.
int decode_ahead_next(std::uint64_t* sample, std::uint32_t* position);
// Stops the decoding early (when `complete` is 0) or lets it run to its end, and waits for it.
// The sound layer then belongs to the caller again.
void decode_ahead_finish(int complete);
