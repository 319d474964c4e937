// WAV output: the canonical 44-byte RIFF header, then little-endian 16-bit stereo frames.
#include "tools/capture/wav_write.h"

#include <bit>
#include <cerrno>
#include <cstring>

// Decoded samples go to the file as they are in memory, which WAV defines as little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr std::uint32_t wav_rate = 44100;
constexpr std::uint32_t wav_block = 4;  // bytes per stereo frame: two 16-bit samples

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

int fail(WavFile* wav, const char* what) {
    std::fprintf(stderr, "vorta-capture: cannot %s %s: %s\n", what, wav->path,
                 std::strerror(errno ? errno : EIO));
    return 0;
}

}  // namespace

void wav_header(std::uint8_t out[44], std::uint64_t frames) {
    // RIFF sizes are 32-bit; the song is far below 4 GiB, so the data size never wraps.
    const auto data = static_cast<std::uint32_t>(frames * wav_block);
    std::memcpy(out, "RIFF", 4);
    put32(out + 4, 36 + data);
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put32(out + 16, 16);                    // fmt chunk size
    put16(out + 20, 1);                     // PCM
    put16(out + 22, 2);                     // channels
    put32(out + 24, wav_rate);              // frames per second
    put32(out + 28, wav_rate * wav_block);  // bytes per second
    put16(out + 32, wav_block);             // bytes per frame
    put16(out + 34, 16);                    // bits per sample
    std::memcpy(out + 36, "data", 4);
    put32(out + 40, data);
}

int wav_begin(WavFile* wav, std::FILE* file, const char* path) {
    *wav = WavFile{file, path, 0};
    std::uint8_t header[44];
    wav_header(header, 0);
    errno = 0;
    if (std::fwrite(header, 1, sizeof header, wav->file) != sizeof header)
        return fail(wav, "write");
    return 1;
}

int wav_append(WavFile* wav, const std::int16_t* frames, std::uint32_t count) {
    errno = 0;
    if (std::fwrite(frames, wav_block, count, wav->file) != count) return fail(wav, "write");
    wav->frames += count;
    return 1;
}

int wav_finish(WavFile* wav) {
    std::uint8_t header[44];
    wav_header(header, wav->frames);
    errno = 0;
    // The samples reach the file before the header that counts them: if they do not fit, the
    // header still describes an empty stream.
    const int ok = std::fflush(wav->file) == 0 && std::fseek(wav->file, 0, SEEK_SET) == 0 &&
                   std::fwrite(header, 1, sizeof header, wav->file) == sizeof header &&
                   std::fflush(wav->file) == 0 && std::fseek(wav->file, 0, SEEK_END) == 0;
    return ok ? 1 : fail(wav, "write");
}
