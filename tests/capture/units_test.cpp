// The capture tool's pieces: seconds and options, frame arithmetic, WAV header, PNG and sheet.
#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "tests/capture/scratch.h"
#include "tools/capture/frame_math.h"
#include "tools/capture/options.h"
#include "tools/capture/png_write.h"
#include "tools/capture/sheet.h"
#include "tools/capture/wav_write.h"
#include "tools/capture/yuv.h"

namespace {

// Decodes a PNG with libpng's reader into 0x00RRGGBB pixels; empty on failure.
std::vector<Pixel32> read_png(const std::string& path, int* w, int* h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    *w = static_cast<int>(image.width);
    *h = static_cast<int>(image.height);
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    std::vector<Pixel32> out(rgb.size() / 3);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = Pixel32{rgb[3 * i]} << 16 | Pixel32{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2];
    }
    return out;
}

TEST(CaptureOptions, SecondsBecomeExactSampleCounts) {
    // 30.1 is not a binary fraction; 0.0000226757 s is 0.99999837 of a sample, ...58 is 1.0000028.
    const char* texts[] = {"0",
                           "30",
                           "30.1",
                           ".5",
                           "1.",
                           "137.142857",
                           "0.0000226757",
                           "0.0000226758",
                           "9999999.999999999999"};
    const std::uint64_t samples[] = {
        0, 1323000, 1327410, 22050, 44100, 6047999, 0, 1, 9999999ull * 44100 + 44099};
    for (int i = 0; i < 9; ++i) {
        std::uint64_t s = 12345;
        EXPECT_EQ(options_seconds_to_samples(texts[i], &s), 1) << texts[i];
        EXPECT_EQ(s, samples[i]) << texts[i];
    }
    for (const char* bad :
         {"", ".", "-1", "+1", "1e3", "1.2.3", " 1", "1 ", "12345678", "1.1234567890123", "abc"}) {
        std::uint64_t s = 0;
        EXPECT_EQ(options_seconds_to_samples(bad, &s), 0) << "'" << bad << "'";
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

TEST(CaptureWav, HeaderBytesAndAppends) {
    std::uint8_t header[44];
    wav_header(header, 6048000);
    EXPECT_EQ(std::string(header, header + 44), song_wav_header);

    // Appends, one of them empty: sizes patched on finish (48, 12), samples in order,
    // little-endian.
    const std::string path = temp_dir() + "/t.wav";
    const std::int16_t samples[6] = {-4000, 5000, 2, 3, 4, 5};
    WavFile wav;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file && wav_begin(&wav, file, "t.wav") && wav_append(&wav, samples, 1) &&
                wav_append(&wav, samples, 0) && wav_append(&wav, samples + 2, 2) &&
                wav_finish(&wav));
    ASSERT_EQ(std::fclose(file), 0);
    const std::string bytes = slurp(path);
    EXPECT_EQ(bytes.substr(4, 4) + bytes.substr(40),
              std::string("\x30\0\0\0\x0C\0\0\0\x60\xF0\x88\x13\x02\0\x03\0\x04\0\x05\0", 20));
}

TEST(CapturePng, ChannelsRowsAndPitchSurviveARoundTrip) {
    // 5 × 3 (odd width) inside rows of 7: every pixel has distinct red, green and blue.
    constexpr int w = 5, h = 3, pitch = 7;
    Pixel32 picture[pitch * h];
    for (int i = 0; i < pitch * h; ++i) {
        const int x = i % pitch, y = i / pitch;  // padding must not leak
        picture[i] =
            x >= w ? 0xDEADBEEF : Pixel32(10 + x) << 16 | Pixel32(100 + y) << 8 | (200 + x + y);
    }
    const std::string dir = temp_dir();
    ASSERT_EQ(png_save((dir + "/c.png").c_str(), picture, w, h, pitch, true), 1);
    int rw = 0, rh = 0;
    const std::vector<Pixel32> back = read_png(dir + "/c.png", &rw, &rh);
    ASSERT_EQ(back.size(), std::size_t{w * h});
    EXPECT_TRUE(rw == w && rh == h) << rw << " x " << rh;
    EXPECT_EQ(back[0], 0x0A64C8u);          // red 10, green 100, blue 200
    EXPECT_EQ(back[2 * w + 4], 0x0E66CEu);  // red 14, green 102, blue 206
    EXPECT_EQ(png_is_gray(picture, w, h, pitch), 0);

    Pixel32 grey[4] = {0x000000, 0x7F7F7F, 0xFFFFFF, 0x010101};
    EXPECT_EQ(png_is_gray(grey, 4, 1, 4), 1);
    ASSERT_EQ(png_save((dir + "/g.png").c_str(), grey, 4, 1, 4, true), 1);
    EXPECT_EQ(read_png(dir + "/g.png", &rw, &rh), std::vector<Pixel32>(grey, grey + 4));
}

TEST(CaptureSheet, ThumbnailsSpreadEvenlyOverTheRange) {
    static Pixel32 frame[screen_pixels];
    const std::string dir = temp_dir();
    for (int frames : {5, 48, 1000}) {
        sheet_reset();
        // Each frame is one flat colour that encodes its index: red the low byte, green the high.
        for (int i = 0; i < frames; ++i) {
            for (Pixel32& p : frame) p = Pixel32(i & 0xFF) << 16 | Pixel32(i & 0xFF00);
            sheet_offer(frame, static_cast<std::uint64_t>(i), i * 735ull, 0);
        }
        const std::string path = dir + "/sheet" + std::to_string(frames) + ".png";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(file && sheet_write(file, path.c_str()));
        ASSERT_EQ(std::fclose(file), 0);
        int w = 0, h = 0;
        const std::vector<Pixel32> sheet = read_png(path, &w, &h);
        ASSERT_FALSE(sheet.empty());
        const int cells = frames < sheet_cells ? frames : sheet_cells;
        EXPECT_TRUE(w == sheet_margin + sheet_columns * sheet_cell_w &&
                    h == sheet_margin + (cells + sheet_columns - 1) / sheet_columns * sheet_cell_h)
            << w << " x " << h;
        // The frame index in the middle of each thumbnail: in order, starting at the first
        // frame, no gap wider than twice the even spacing.
        const int even = (frames + cells - 1) / cells;
        int prev = -1;
        for (int c = 0; c < cells; ++c) {
            const Pixel32 p =
                sheet[(sheet_margin + c / sheet_columns * sheet_cell_h + sheet_thumb_h / 2) * w +
                      sheet_margin + c % sheet_columns * sheet_cell_w + sheet_thumb_w / 2];
            const int index = static_cast<int>((p >> 16) | (p & 0xFF00));
            EXPECT_TRUE(c == 0 ? index == 0 : index - prev >= 1 && index - prev <= 2 * even)
                << frames << " frames, cell " << c << ": " << prev << " then " << index;
            prev = index;
        }
        EXPECT_GE(prev, frames - 2 * even);
    }
    sheet_reset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(sheet_write(stdout, "empty.png"), 0);  // nothing offered
    testing::internal::GetCapturedStderr();
}

TEST(CaptureYuv, BigPixelsKeepTheirOwnColourInEveryPlane) {
    // BT.709 studio range by its definition, in floating point, against the 16.16 version.
    const auto ref = [](Pixel32 p, int plane) {
        const double r = (p >> 16 & 0xFF) / 255.0, g = (p >> 8 & 0xFF) / 255.0,
                     b = (p & 0xFF) / 255.0;
        const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
        return plane == 0   ? 16 + 219 * y
               : plane == 1 ? 128 + 224 * (b - y) / 1.8556
                            : 128 + 224 * (r - y) / 1.5748;
    };
    // A 7 × 5 frame in which no two neighbours share a colour, plus black, white and greys.
    static Pixel32 frame[7 * 5];
    for (int i = 0; i < 7 * 5; ++i) frame[i] = (i * 0x9E3779B9u) >> 8;
    frame[0] = 0x000000, frame[1] = 0xFFFFFF, frame[2] = 0x808080, frame[3] = 0x010101;
    for (const Pixel32 p : frame) {
        const Yuv c = yuv_from_rgb(p);
        const std::uint8_t got[3] = {c.y, c.u, c.v};
        for (int plane = 0; plane < 3; ++plane) EXPECT_NEAR(got[plane], ref(p, plane), 0.51) << p;
    }
    EXPECT_TRUE(yuv_from_rgb(0xFFFFFF).y == 235 && yuv_from_rgb(0).y == 16);
    EXPECT_TRUE(yuv_from_rgb(0x808080).u == 128 && yuv_from_rgb(0x808080).v == 128);

    // Every sample of every plane, at an even and an odd scale, belongs to one source pixel.
    for (int k : {4, 3, 1}) {
        const int w = 7 * k, h = 5 * k, c = yuv_is_420(k) ? 2 : 1;
        std::vector<std::uint8_t> out(yuv_frame_bytes(7, 5, k) + 1, 0xA5);
        yuv_upscale(frame, 7, 5, k, out.data());
        EXPECT_EQ(out.back(), 0xA5) << "written past the frame at scale " << k;
        const std::uint8_t* u = out.data() + w * h;
        const std::uint8_t* v = u + (w / c) * (h / c);
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const Yuv want = yuv_from_rgb(frame[y / k * 7 + x / k]);
                wrong += out[y * w + x] != want.y;
                // A chroma sample covers c × c output pixels, all inside one big pixel.
                if (y % c == 0 && x % c == 0) {
                    const int i = y / c * (w / c) + x / c;
                    wrong += u[i] != want.u || v[i] != want.v;
                }
            }
        }
        EXPECT_EQ(wrong, 0) << "scale " << k;
    }
}

}  // namespace
