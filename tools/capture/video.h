// The --video output: frames piped to an ffmpeg child process, then muxed with the WAV.
// Functions return 1 on success and 0 after printing the reason to stderr.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// Starts ffmpeg encoding frames of (w × scale) × (h × scale) at `fps` into a temporary file.
// 0 when ffmpeg cannot be started (for instance when it is not installed). A dead ffmpeg shows
// up as a failed write only if SIGPIPE is ignored.
int video_begin(int w, int h, int scale, std::uint32_t fps);
// Path for a temporary WAV that video_end may mux; valid between begin and end.
const char* video_temp_wav_path();
// Upscales one w × h frame by nearest neighbour and sends it to ffmpeg. A stop signal fails it
// without a message.
int video_frame(const Pixel32* frame);
// Closes the pipe, waits for ffmpeg and, if all went well, muxes the video with `wav_path`
// (AAC audio) into `out_path` as MP4, whatever its name. Always removes its temporary files.
// A stop signal ends ffmpeg and fails it without a message.
int video_end(const char* out_path, const char* wav_path);
// Stops ffmpeg after a failure elsewhere and removes the temporary files.
void video_abort();
