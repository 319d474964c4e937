// The sound layer on small modules of the tests' own: mark order, position steps, bad input,
// the device lifecycle and the real-time path through SDL's dummy audio driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sound/bassmod.h"
#include "tests/sound/xm_builder.h"

namespace {

std::vector<std::uint32_t> marks;
void record(HSYNC, std::uint32_t data, std::uint32_t) {
    marks.push_back(data);
}

std::uint64_t sunk_frames;
void count_frames(const std::int16_t*, std::uint32_t count, void*) {
    sunk_frames += count;
}

void set_env(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

// Two patterns played 0, 1, 0: marks in several channels of one row, a pattern break that
// cuts pattern 1 short after row 1, and pattern 0 played twice.
XmSong small_song() {
    XmSong s;
    s.channels = 4;
    s.orders = {0, 1, 0};
    s.pattern_rows = {8, 4};
    s.cells = {{0, 0, 3, xm_effect_w, 30},  {0, 0, 1, xm_effect_w, 10},
               {0, 0, 2, xm_effect_w, 20},  {0, 5, 0, xm_effect_w, 255},
               {1, 0, 0, xm_effect_w, 254}, {1, 1, 2, xm_effect_pattern_break, 0},
               {1, 2, 1, xm_effect_w, 99}};  // after the break: never played
    return s;
}
constexpr std::uint64_t small_row = 2625;  // speed 3 × 875 frames at BPM 126
constexpr int small_rows = 8 + 2 + 8;
const std::vector<std::uint32_t> small_marks = {10, 20, 30, 255, 254, 10, 20, 30, 255};

class Layer : public ::testing::Test {
   protected:
    void SetUp() override {
        marks.clear();
        sunk_frames = 0;
    }
    void TearDown() override { BASSMOD_Free(); }

    int load(const std::vector<std::uint8_t>& bytes) {
        return BASSMOD_MusicLoad(1, bytes.data(), 0, static_cast<std::uint32_t>(bytes.size()), 0);
    }
};

TEST_F(Layer, MarksComeInPlayOrderAndChannelOrder) {
    const std::vector<std::uint8_t> xm = xm_build(small_song());
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);
    ASSERT_EQ(load(xm), 1);
    ASSERT_NE(BASSMOD_MusicSetSync(3, 1, record, 0), 0u);
    ASSERT_EQ(BASSMOD_MusicSetPositionScaler(256), 1);
    sound_offline_set_pcm_sink(count_frames, nullptr);
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);

    // Row 5 of the first order: fraction 0 at its start, 255 at its last frame.
    ASSERT_EQ(sound_offline_advance(5 * small_row), 1);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), 5u * 256 << 16);
    EXPECT_EQ(marks, (std::vector<std::uint32_t>{10, 20, 30, 255}));
    ASSERT_EQ(sound_offline_advance(6 * small_row - 1), 1);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), (5u * 256 + 255) << 16);
    // A third of the way into order 1, row 1: floor(256 / 3) = 85.
    ASSERT_EQ(sound_offline_advance(9 * small_row + small_row / 3), 1);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), (1u * 256 + 85) << 16 | 1);
    // An earlier frame does not move the position back.
    ASSERT_EQ(sound_offline_advance(0), 1);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), (1u * 256 + 85) << 16 | 1);

    EXPECT_EQ(sound_offline_advance(small_rows * small_row), 0);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0);
    EXPECT_EQ(marks, small_marks);
    EXPECT_EQ(sunk_frames, small_rows * small_row);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), (7u * 256 + 255) << 16 | 2);

    // Playing again starts over and delivers the same marks once more.
    marks.clear();
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), 0u);
    EXPECT_EQ(sound_offline_advance(small_rows * small_row - 1), 1);
    EXPECT_EQ(marks, small_marks);
}

// Row 4 of pattern 0 sets speed 1 and BPM 255: from there a row is one tick of
// floor(44100 × 2.5 / 255) = 432 frames instead of 2625. Rows keep exact starts, row 5 (one
// tick after the change) keeps its mark, and the song is 4 × 2625 + 14 × 432 frames long.
TEST_F(Layer, TempoChangeKeepsEveryRowExact) {
    XmSong song = small_song();
    song.cells.push_back({0, 4, 2, xm_effect_set_speed, 0xFF});  // BPM 255
    song.cells.push_back({0, 4, 3, xm_effect_set_speed, 0x01});  // 1 tick a row
    const std::vector<std::uint8_t> xm = xm_build(song);
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);
    ASSERT_EQ(load(xm), 1);
    ASSERT_NE(BASSMOD_MusicSetSync(3, 1, record, 0), 0u);
    ASSERT_EQ(BASSMOD_MusicSetPositionScaler(256), 1);
    sound_offline_set_pcm_sink(count_frames, nullptr);

    // The rows played: order 0 rows 0-7, order 1 rows 0-1, order 2 rows 0-7.
    std::uint64_t start = 0;
    for (int g = 0; g < small_rows; ++g) {
        const std::uint32_t order = g < 8 ? 0 : g < 10 ? 1 : 2;
        const std::uint32_t row = g < 8 ? g : g < 10 ? g - 8 : g - 10;
        const std::uint64_t len = g < 4 ? small_row : 432;
        ASSERT_EQ(sound_offline_advance(start), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), row << 24 | order) << "row " << g;
        ASSERT_EQ(sound_offline_advance(start + len - 1), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), (row * 256 + 255) << 16 | order) << "row " << g;
        start += len;
    }
    EXPECT_EQ(start, 4 * small_row + 14 * 432);
    EXPECT_EQ(sound_offline_advance(start), 0);
    EXPECT_EQ(sunk_frames, start);
    EXPECT_EQ(marks, small_marks);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), (7u * 256 + 255) << 16 | 2);
}

TEST_F(Layer, ScalerSetsTheStepsPerRow) {
    const std::vector<std::uint8_t> xm = xm_build(small_song());
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);
    ASSERT_EQ(load(xm), 1);
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    // 1313 of the row's 2625 frames: just past half.
    ASSERT_EQ(sound_offline_advance(3 * small_row + small_row / 2 + 1), 1);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), 3u << 16);  // scaler 1 until set: the bare row
    ASSERT_EQ(BASSMOD_MusicSetPositionScaler(10), 1);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), 35u << 16);
    EXPECT_EQ(BASSMOD_MusicSetPositionScaler(0), 0);
    EXPECT_EQ(BASSMOD_MusicSetPositionScaler(257), 0);  // row 255 × 257 would overflow 16 bits
    EXPECT_EQ(BASSMOD_MusicGetPosition(), 35u << 16);
}

TEST_F(Layer, LoadRejectsBadInput) {
    std::vector<std::uint8_t> xm = xm_build(small_song());
    const auto size = static_cast<std::uint32_t>(xm.size());
    EXPECT_EQ(load(xm), 0) << "loaded before Init";
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);

    EXPECT_EQ(BASSMOD_MusicLoad(1, xm.data(), 0, 0, 0), 0) << "length 0";
    EXPECT_EQ(BASSMOD_MusicLoad(1, nullptr, 0, size, 0), 0);
    EXPECT_EQ(BASSMOD_MusicLoad(0, xm.data(), 0, size, 0), 0) << "only memory loads exist";
    std::vector<std::uint8_t> noise(100000);
    std::uint32_t x = 12345;
    for (auto& b : noise) {
        x = x * 1103515245u + 12345u;  // a fixed sequence, the same on every run
        b = static_cast<std::uint8_t>(x >> 24);
    }
    EXPECT_EQ(load(noise), 0) << "random bytes";
    const std::vector<std::uint8_t> zeros(582333, 0);
    EXPECT_EQ(load(zeros), 0) << "zero bytes";
    const char text[] = "Extended Module: this is just a line of text, not a module at all";
    EXPECT_EQ(BASSMOD_MusicLoad(1, text, 0, sizeof text, 0), 0) << "a header and nothing else";

    // Rejected loads leave nothing to play or to register.
    EXPECT_EQ(BASSMOD_MusicPlay(), 0);
    EXPECT_EQ(BASSMOD_MusicSetSync(3, 1, record, 0), 0u);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0);

    // The module at an offset inside a larger buffer loads from there.
    std::vector<std::uint8_t> padded(3 + xm.size(), 0xEE);
    std::copy(xm.begin(), xm.end(), padded.begin() + 3);
    EXPECT_EQ(BASSMOD_MusicLoad(1, padded.data(), 3, size, 0), 1);
    EXPECT_EQ(BASSMOD_MusicSetSync(2, 1, record, 0), 0u) << "only effect marks are supported";
    EXPECT_EQ(BASSMOD_MusicSetSync(3, 1, nullptr, 0), 0u);
}

TEST_F(Layer, InitAndFreeLifecycle) {
    BASSMOD_Free();  // before any Init: nothing to release
    EXPECT_EQ(BASSMOD_Init(-7, 44100, 0), 0) << "no such device";
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 1000, 0), 0) << "rate out of range";
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 44100, 0), 1);
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 44100, 0), 0) << "already initialised";
    const std::vector<std::uint8_t> xm = xm_build(small_song());
    ASSERT_EQ(load(xm), 1);
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 1);
    BASSMOD_Free();
    BASSMOD_Free();
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), 0u);
    EXPECT_EQ(BASSMOD_MusicPlay(), 0);
    EXPECT_EQ(sound_offline_advance(1000), 0);

    // An SDL audio driver that does not exist: no device, and the silent fallback still works.
    const char* saved = std::getenv("SDL_AUDIODRIVER");
    const std::string keep = saved ? saved : "";
    set_env("SDL_AUDIODRIVER", "no_such_driver");
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_DEFAULT, 44100, 32), 0);
    set_env("SDL_AUDIODRIVER", saved ? keep.c_str() : nullptr);
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 44100, 0), 1);
}

// The real-time path: SDL's audio thread decodes, this thread reads the position. Requires
// SDL_AUDIODRIVER=dummy (set by the test runner) where there is no sound card.
TEST_F(Layer, RealTimeDevicePlaysToTheEnd) {
    XmSong song = small_song();
    song.speed = 1;
    song.bpm = 255;  // 432 frames a row, so the song lasts under half a second
    const std::vector<std::uint8_t> xm = xm_build(song);
    if (BASSMOD_Init(BASSMOD_DEVICE_DEFAULT, 44100, 0) != 1) GTEST_SKIP() << "no audio device";
    ASSERT_EQ(load(xm), 1);
    ASSERT_NE(BASSMOD_MusicSetSync(3, 1, record, 0), 0u);
    ASSERT_EQ(BASSMOD_MusicSetPositionScaler(256), 1);
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);

    const auto t0 = std::chrono::steady_clock::now();
    const auto deadline = t0 + std::chrono::seconds(5);
    std::uint32_t previous = 0;
    while (BASSMOD_MusicIsActive() && std::chrono::steady_clock::now() < deadline) {
        const std::uint32_t pos = BASSMOD_MusicGetPosition();
        ASSERT_GE((pos & 0xFFFF) << 16 | pos >> 16, (previous & 0xFFFF) << 16 | previous >> 16);
        previous = pos;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0) << "still active after " << seconds << " s";
    EXPECT_EQ(BASSMOD_MusicGetPosition(), (7u * 256 + 255) << 16 | 2);
    EXPECT_EQ(marks, small_marks);
    // 18 rows of 432 frames are 0.176 s; the dummy driver plays in real time.
    EXPECT_GT(seconds, 0.12);
    EXPECT_LT(seconds, 1.0);
}

}  // namespace
