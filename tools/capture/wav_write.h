// A 44100 Hz 16-bit stereo WAV written as the song is decoded, on a seekable stream the caller
// owns. Functions return 1 on success and 0 after printing the reason to stderr; after a failure
// the file is abandoned, and its header never claims more than was written.
#pragma once

#include <cstdint>
#include <cstdio>

struct WavFile {
    std::FILE* file;
    const char* path;
    std::uint64_t frames;  // stereo frames written so far
};

// Starts a WAV at the start of `file` (named `path` in messages): a header for an empty stream.
int wav_begin(WavFile* wav, std::FILE* file, const char* path);
// Appends `count` interleaved stereo frames.
int wav_append(WavFile* wav, const std::int16_t* frames, std::uint32_t count);
// Flushes the samples and only then writes their true sizes into the header, and flushes again.
// The stream stays open.
int wav_finish(WavFile* wav);
// The 44-byte canonical header for `frames` stereo frames of 16-bit PCM at 44100 Hz.
void wav_header(std::uint8_t out[44], std::uint64_t frames);
