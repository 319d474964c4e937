// Helpers of both capture suites: scratch folders, files read whole, the song's WAV header.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A fresh folder inside this program's scratch folder, which goes when the program ends.
inline std::string temp_dir() {
    static const struct Root {
        std::string path = testing::TempDir() + "capture_" + std::to_string(getpid());
        ~Root() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } root;
    static int made = 0;
    const std::string dir = root.path + "/" + std::to_string(++made);
    std::filesystem::create_directories(dir);
    return dir;
}

// The whole file, empty if it cannot be read.
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The whole song's header, by hand: 6,048,000 frames of 4 bytes (0x01712400), PCM, stereo,
// 44100 (0xAC44) Hz, 176400 (0x02B110) bytes a second, 16 bits.
inline const std::string song_wav_header(
    "RIFF\x24\x24\x71\x01WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0"
    "data\x00\x24\x71\x01",
    44);
