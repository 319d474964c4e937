// The capture tool's pieces: argument parsing, frame arithmetic, WAV header, PNG and sheet output.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/capture/frame_math.h"
#include "tools/capture/options.h"
#include "tools/capture/png_write.h"
#include "tools/capture/sheet.h"
#include "tools/capture/wav_write.h"

namespace {

// Every folder made by temp_dir, removed with its contents when the test program ends.
struct Scratch {
    std::vector<std::string> dirs;
    ~Scratch() {
        std::error_code ignored;
        for (const std::string& d : dirs) std::filesystem::remove_all(d, ignored);
    }
} scratch;

std::string temp_dir() {
    std::string dir = testing::TempDir() + "capture_units_XXXXXX";
    EXPECT_NE(mkdtemp(dir.data()), nullptr);
    scratch.dirs.push_back(dir);
    return dir;
}

// Decodes a PNG with libpng's reader into 0x00RRGGBB pixels; empty on failure.
std::vector<Pixel32> read_png(const std::string& path, int* w, int* h, bool* gray) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    *w = static_cast<int>(image.width);
    *h = static_cast<int>(image.height);
    *gray = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    std::vector<Pixel32> out(rgb.size() / 3);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = Pixel32{rgb[3 * i]} << 16 | Pixel32{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
    }
    return out;
}

// A disk that fills after `bytes`: the file-size limit makes writes past it fail with EFBIG
// (SIGXFSZ ignored), like /dev/full, which not every container has.
struct SmallDisk {
    rlimit saved{};
    explicit SmallDisk(rlim_t bytes) {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~SmallDisk() { setrlimit(RLIMIT_FSIZE, &saved); }
};

bool have_dev_full() {
    struct stat st {};
    return stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode);
}

int parse(std::vector<const char*> args, CaptureOptions* o) {
    args.insert(args.begin(), "vorta-capture");
    // The parser prints to stderr on failure; keep the test output readable.
    testing::internal::CaptureStderr();
    const int ok = options_parse(static_cast<int>(args.size()), const_cast<char**>(args.data()), o);
    testing::internal::GetCapturedStderr();
    return ok;
}

TEST(CaptureOptions, SecondsBecomeExactSampleCounts) {
    struct Case {
        const char* text;
        std::uint64_t samples;
    } cases[] = {
        {"0", 0},
        {"30", 1323000},
        {"30.1", 1327410},  // 30.1 is not a binary fraction
        {".5", 22050},
        {"1.", 44100},
        {"137.142857", 6047999},
        {"0.0000226757", 0},  // 0.99999837 of a sample
        {"0.0000226758", 1},  // 1.00000278 samples
        {"9999999.999999999999", 9999999ull * 44100 + 44099},
    };
    for (const Case& c : cases) {
        std::uint64_t s = 12345;
        EXPECT_EQ(options_seconds_to_samples(c.text, &s), 1) << c.text;
        EXPECT_EQ(s, c.samples) << c.text;
    }
    for (const char* bad :
         {"", ".", "-1", "+1", "1e3", "1.2.3", " 1", "1 ", "12345678", "1.1234567890123", "abc"}) {
        std::uint64_t s = 0;
        EXPECT_EQ(options_seconds_to_samples(bad, &s), 0) << "'" << bad << "'";
    }
}

TEST(CaptureOptions, AcceptsGoodLinesAndRejectsBadOnes) {
    CaptureOptions o;
    ASSERT_EQ(
        parse({"--fps", "24", "--from", "30", "--to", "32", "--raw", "x", "--scale", "2"}, &o), 1);
    EXPECT_EQ(o.fps, 24u);
    EXPECT_EQ(o.scale, 2u);
    EXPECT_EQ(o.from_sample, 1323000u);
    EXPECT_EQ(o.to_sample, 1411200u);
    EXPECT_STREQ(o.raw_path, "x");
    ASSERT_EQ(parse({"--wav", "w"}, &o), 1);
    EXPECT_EQ(o.fps, 60u);
    EXPECT_EQ(o.scale, 4u);
    EXPECT_EQ(o.from_sample, 0u);
    EXPECT_EQ(o.to_sample, no_limit);
    ASSERT_EQ(parse({"--help"}, &o), 1);
    EXPECT_TRUE(o.help);

    const std::vector<std::vector<const char*>> bad = {
        {},                            // no output
        {"--fps", "60"},               // still no output
        {"--raw"},                     // missing value
        {"--raw", "x", "--fps", "0"},  // fps out of range
        {"--raw", "x", "--fps", "1001"},
        {"--raw", "x", "--fps", "6o"},
        {"--raw", "x", "--scale", "0"},
        {"--raw", "x", "--scale", "9"},
        {"--raw", "x", "--from", "-3"},
        {"--raw", "x", "--from", "32", "--to", "30"},  // empty range
        {"--raw", "x", "--from", "30", "--to", "30"},
        {"--raw", ""},  // empty path
        {"--raw", "x", "--bogus", "1"},
        {"--raw", "x", "stray"},
    };
    for (const auto& args : bad) {
        std::string line;
        for (const char* a : args) line += std::string(a) + " ";
        EXPECT_EQ(parse(args, &o), 0) << line;
    }
}

TEST(CaptureFrames, FirstFrameAtAgreesWithASearch) {
    for (std::uint32_t fps : {1u, 7u, 24u, 25u, 30u, 60u, 1000u}) {
        for (std::uint64_t sample : {0ull, 1ull, 1837ull, 1838ull, 44099ull, 44100ull, 1323000ull,
                                     6047999ull, 6048000ull}) {
            std::uint64_t k = 0;
            while (k * 44100 / fps < sample) ++k;  // the smallest k whose sample is not earlier
            EXPECT_EQ(first_frame_at(sample, fps), k) << fps << " fps, sample " << sample;
        }
    }
}

TEST(CaptureWav, HeaderFieldsAndSizes) {
    // Bytes worked out by hand for the whole song: 6,048,000 frames of 4 bytes.
    const std::uint8_t expected[44] = {'R', 'I', 'F', 'F', 36,  36,  113, 1,   'W', 'A', 'V',
                                       'E', 'f', 'm', 't', ' ', 16,  0,   0,   0,   1,   0,
                                       2,   0,   68,  172, 0,   0,   16,  177, 2,   0,   4,
                                       0,   16,  0,   'd', 'a', 't', 'a', 0,   36,  113, 1};
    std::uint8_t header[44];
    wav_header(header, 6048000);
    EXPECT_EQ(std::vector<std::uint8_t>(header, header + 44),
              std::vector<std::uint8_t>(expected, expected + 44));

    // A file written in three appends has the patched header and every sample in order.
    const std::string path = temp_dir() + "/t.wav";
    WavFile wav;
    ASSERT_EQ(wav_open(&wav, path.c_str()), 1);
    std::int16_t samples[10];
    for (int i = 0; i < 10; ++i) samples[i] = static_cast<std::int16_t>(i * 1000 - 4000);
    ASSERT_EQ(wav_append(&wav, samples, 2), 1);
    ASSERT_EQ(wav_append(&wav, samples + 4, 0), 1);
    ASSERT_EQ(wav_append(&wav, samples + 4, 3), 1);
    ASSERT_EQ(wav_close(&wav), 1);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::uint8_t bytes[100];
    const std::size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    ASSERT_EQ(n, 44u + 20u);
    EXPECT_EQ(bytes[4], 36 + 20);  // RIFF size
    EXPECT_EQ(bytes[40], 20);      // data size
    EXPECT_EQ(bytes[44], 0x60);    // -4000 = 0xF060, little-endian
    EXPECT_EQ(bytes[45], 0xF0);
    EXPECT_EQ(bytes[62], 0x88);  // 5000 = 0x1388, the last sample
    EXPECT_EQ(bytes[63], 0x13);
}

// Writes 200 chunks of samples to `path` and closes it; 1 if every step succeeded.
int write_long_wav(const char* path) {
    WavFile wav;
    int ok = wav_open(&wav, path);
    static std::int16_t samples[4096] = {};
    for (int i = 0; ok && i < 200; ++i) ok = wav_append(&wav, samples, 2048);
    return wav_close(&wav) && ok;
}

TEST(CaptureWav, FullDiskIsAFailure) {
    const std::string path = temp_dir() + "/full.wav";
    testing::internal::CaptureStderr();
    {
        SmallDisk disk(64 * 1024);
        EXPECT_EQ(write_long_wav(path.c_str()), 0);
    }
    if (have_dev_full()) {
        EXPECT_EQ(write_long_wav("/dev/full"), 0);
    }
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(path), std::string::npos) << message;
}

TEST(CapturePng, ChannelsRowsAndPitchSurviveARoundTrip) {
    // 5 × 3 (odd width) inside rows of 7: every pixel has distinct red, green and blue.
    constexpr int w = 5, h = 3, pitch = 7;
    Pixel32 picture[pitch * h];
    for (int i = 0; i < pitch * h; ++i) picture[i] = 0xDEADBEEF;  // padding must not leak
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            picture[y * pitch + x] =
                Pixel32(10 + x) << 16 | Pixel32(100 + y) << 8 | Pixel32(200 + x + y);
        }
    }
    const std::string dir = temp_dir();
    ASSERT_EQ(png_write_rgb((dir + "/c.png").c_str(), picture, w, h, pitch), 1);
    int rw = 0, rh = 0;
    bool gray = true;
    const std::vector<Pixel32> back = read_png(dir + "/c.png", &rw, &rh, &gray);
    ASSERT_EQ(back.size(), std::size_t{w * h});
    EXPECT_EQ(rw, w);
    EXPECT_EQ(rh, h);
    EXPECT_FALSE(gray);
    EXPECT_EQ(back[0], 0x0A64C8u);          // red 10, green 100, blue 200
    EXPECT_EQ(back[2 * w + 4], 0x0E66CEu);  // red 14, green 102, blue 206
    EXPECT_EQ(png_is_gray(picture, w, h, pitch), 0);

    Pixel32 grey[4] = {0x000000, 0x7F7F7F, 0xFFFFFF, 0x010101};
    EXPECT_EQ(png_is_gray(grey, 4, 1, 4), 1);
    ASSERT_EQ(png_write_gray((dir + "/g.png").c_str(), grey, 4, 1, 4), 1);
    const std::vector<Pixel32> gback = read_png(dir + "/g.png", &rw, &rh, &gray);
    EXPECT_TRUE(gray);
    EXPECT_EQ(gback, std::vector<Pixel32>(grey, grey + 4));

    testing::internal::CaptureStderr();
    if (have_dev_full()) {
        EXPECT_EQ(png_write_rgb("/dev/full", picture, w, h, pitch), 0);
    }
    {
        SmallDisk disk(40);  // the signature and IHDR fit, the rest does not
        EXPECT_EQ(png_write_rgb((dir + "/small.png").c_str(), picture, w, h, pitch), 0);
    }
    EXPECT_NE(access((dir + "/small.png").c_str(), F_OK), 0) << "a failed PNG must not stay";
    EXPECT_EQ(png_write_rgb((dir + "/missing/x.png").c_str(), picture, w, h, pitch), 0);
    testing::internal::GetCapturedStderr();
}

// The index of the frame shown in sheet cell c, read back from its colour.
int cell_frame(const std::vector<Pixel32>& sheet, int sheet_w, int c) {
    const int x = sheet_margin + (c % sheet_columns) * sheet_cell_w + sheet_thumb_w / 2;
    const int y = sheet_margin + (c / sheet_columns) * sheet_cell_h + sheet_thumb_h / 2;
    const Pixel32 p = sheet[y * sheet_w + x];
    return static_cast<int>((p >> 16) | (p & 0xFF00));
}

TEST(CaptureSheet, ThumbnailsSpreadEvenlyOverTheRange) {
    static Pixel32 frame[screen_pixels];
    const std::string dir = temp_dir();
    for (int frames : {5, 48, 1000}) {
        sheet_reset();
        // Each frame is one flat colour that encodes its index: red the low byte, green the high.
        for (int i = 0; i < frames; ++i) {
            const Pixel32 colour = Pixel32(i & 0xFF) << 16 | Pixel32(i & 0xFF00);
            for (Pixel32& p : frame) p = colour;
            sheet_offer(frame, static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(i) * 735,
                        0);
        }
        const std::string path = dir + "/sheet" + std::to_string(frames) + ".png";
        ASSERT_EQ(sheet_write(path.c_str()), 1);
        int w = 0, h = 0;
        bool gray = false;
        const std::vector<Pixel32> sheet = read_png(path, &w, &h, &gray);
        ASSERT_FALSE(sheet.empty());
        const int cells = frames < sheet_cells ? frames : sheet_cells;
        EXPECT_EQ(w, sheet_margin + sheet_columns * sheet_cell_w);
        EXPECT_EQ(h, sheet_margin + (cells + sheet_columns - 1) / sheet_columns * sheet_cell_h);
        // In order, starting at the first frame, no gap wider than twice the even spacing.
        const int even = (frames + cells - 1) / cells;
        EXPECT_EQ(cell_frame(sheet, w, 0), 0);
        for (int c = 1; c < cells; ++c) {
            const int gap = cell_frame(sheet, w, c) - cell_frame(sheet, w, c - 1);
            EXPECT_GE(gap, 1) << frames << " frames, cell " << c;
            EXPECT_LE(gap, 2 * even) << frames << " frames, cell " << c;
        }
        EXPECT_GE(cell_frame(sheet, w, cells - 1), frames - 2 * even);
    }
    sheet_reset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(sheet_write((dir + "/empty.png").c_str()), 0);  // nothing offered
    testing::internal::GetCapturedStderr();
}

}  // namespace
