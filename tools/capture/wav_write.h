// A 44100 Hz 16-bit stereo WAV file written as the song is decoded. Functions return 1 on
// success and 0 after printing the reason to stderr; after a failure the file is abandoned.
#pragma once

#include <cstdint>
#include <cstdio>

struct WavFile {
    std::FILE* file;
    const char* path;
    std::uint64_t frames;  // stereo frames written so far
};

// Creates `path` with a header for an empty stream.
int wav_open(WavFile* wav, const char* path);
// Appends `count` interleaved stereo frames.
int wav_append(WavFile* wav, const std::int16_t* frames, std::uint32_t count);
// Writes the final sizes into the header and closes the file (also after a failure).
int wav_close(WavFile* wav);
// The 44-byte canonical header for `frames` stereo frames of 16-bit PCM at 44100 Hz.
void wav_header(std::uint8_t out[44], std::uint64_t frames);
