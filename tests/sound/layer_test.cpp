// The sound layer on small modules of the tests' own: a tempo change, bad input, the device
// lifecycle and the real-time path through SDL's dummy audio driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "assets/assets.h"
#include "sound/bassmod.h"

namespace {

// One effect cell; effects numbered as XM stores them: W = 32, D (break) 13, F (speed/BPM) 15.
struct Cell {
    int pattern, row, channel;
    std::uint8_t effect, param;
};

// An XM file (version 0x0104, 4 channels, no instruments) playing orders 0, 1, 0 of two silent
// patterns of 8 and 4 rows that carry only `cells`, at `speed` ticks a row and `bpm`.
std::vector<std::uint8_t> build_xm(const std::vector<Cell>& cells, int speed, int bpm) {
    std::vector<std::uint8_t> out;
    auto put = [&](std::uint32_t v, int bytes) {  // little-endian
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> 8 * i));
    };
    auto text = [&](const char* s, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) put(i < std::strlen(s) ? s[i] : 0, 1);
    };
    text("Extended Module: ", 17), text("sound test", 20), put(0x1A, 1), text("tests", 20);
    put(0x0104, 2);
    put(276, 4);  // header size from this field: 20 bytes of fields + 256 orders
    // Orders, restart position, channels, patterns, instruments, linear frequency table.
    for (int v : {3, 0, 4, 2, 0, 1}) put(v, 2);
    put(speed, 2), put(bpm, 2);
    for (int i = 0; i < 256; ++i) put(i == 1, 1);  // order list 0, 1, 0
    for (int p = 0; p < 2; ++p) {
        std::vector<std::uint8_t> data;
        for (int r = 0; r < (p ? 4 : 8); ++r) {
            for (int c = 0; c < 4; ++c) {
                const Cell* hit = nullptr;
                for (const Cell& cell : cells) {
                    if (cell.pattern == p && cell.row == r && cell.channel == c) hit = &cell;
                }
                // Packed: 0x80 alone is an empty cell, 0x98 one with effect and parameter.
                data.push_back(hit ? 0x98 : 0x80);
                if (hit) data.push_back(hit->effect), data.push_back(hit->param);
            }
        }
        put(9, 4), put(0, 1), put(p ? 4 : 8, 2);  // header length, packing, rows
        put(static_cast<std::uint32_t>(data.size()), 2);
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

// Marks in several channels of one row, a break cutting pattern 1 after row 1, pattern 0 twice:
// 8 + 2 + 8 rows.
const std::vector<Cell> small_cells = {{0, 0, 3, 32, 30},  {0, 0, 1, 32, 10},  {0, 0, 2, 32, 20},
                                       {0, 5, 0, 32, 255}, {1, 0, 0, 32, 254}, {1, 1, 2, 13, 0},
                                       {1, 2, 1, 32, 99}};  // after the break: never played
const std::vector<std::uint32_t> small_marks = {10, 20, 30, 255, 254, 10, 20, 30, 255};

std::vector<std::uint32_t> marks;
void record(HSYNC, std::uint32_t data, std::uint32_t) {
    marks.push_back(data);
}

class Layer : public ::testing::Test {
   protected:
    void TearDown() override { BASSMOD_Free(); }

    int load(const std::vector<std::uint8_t>& xm) {
        return BASSMOD_MusicLoad(1, xm.data(), 0, static_cast<std::uint32_t>(xm.size()), 0);
    }
    // Loads `xm` on the open device with marks recorded and 256 steps per row.
    void load_marked(const std::vector<std::uint8_t>& xm) {
        marks.clear();
        ASSERT_EQ(load(xm), 1);
        ASSERT_NE(BASSMOD_MusicSetSync(3, 1, record, 0), 0u);
        ASSERT_EQ(BASSMOD_MusicSetPositionScaler(256), 1);
    }
};

// Row 4 of pattern 0 sets BPM 255 and speed 1: from there a row is one tick of
// floor(44100 × 2.5 / 255) = 432 frames instead of 2625. Every row starts to the frame, row 5
// keeps its mark, and the song is 4 × 2625 + 14 × 432 frames long.
TEST_F(Layer, TempoChangeMidPatternKeepsEveryRowExact) {
    std::vector<Cell> cells = small_cells;
    cells.insert(cells.end(), {{0, 4, 2, 15, 0xFF}, {0, 4, 3, 15, 0x01}});  // BPM 255, speed 1
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);
    load_marked(build_xm(cells, 3, 126));
    EXPECT_EQ(BASSMOD_MusicSetPositionScaler(0), 0);
    EXPECT_EQ(BASSMOD_MusicSetPositionScaler(257), 0);  // row 255 × 257 would overflow 16 bits
    std::uint64_t start = 0;
    for (std::uint32_t g = 0; g < 18; ++g) {
        const std::uint32_t order = g < 8 ? 0 : g < 10 ? 1 : 2;
        const std::uint32_t row = g - (g < 8 ? 0 : g < 10 ? 8 : 10);
        const std::uint64_t len = g < 4 ? 2625 : 432;
        ASSERT_EQ(sound_offline_advance(start), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), row << 24 | order) << "row " << g;
        ASSERT_EQ(sound_offline_advance(start + len - 1), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), (row * 256 + 255) << 16 | order) << "row " << g;
        start += len;
    }
    EXPECT_EQ(sound_offline_advance(start), 0);
    EXPECT_EQ(marks, small_marks);
}

// Play-order key of a packed position: order, then row and step.
std::uint32_t play_key(std::uint32_t p) {
    return (p & 0xFFFF) << 16 | p >> 16;
}
// The order and row of a packed position (scaler 256).
std::uint32_t row_of(std::uint32_t p) {
    return (p & 0xFFFF) << 16 | p >> 24;
}

// Aimed a row and a half ahead, offline: every position is the one the unaimed song reaches a
// lead later, except where the patterns leave the next row open (then it waits on a row before
// it, never ahead), positions never go back, and the marks delivered are always exactly those of
// the rows up to the position reported.
TEST_F(Layer, AimedPositionsForetellRowsAndDeliverEachMarkOnce) {
    struct AimCase {
        const char* what;
        std::vector<Cell> extra;
        std::vector<std::uint32_t> open_rows;  // order << 16 | row: the next row is not foretold
    };
    // Every song but the last has the break after order 1, row 1.
    const AimCase cases[] = {
        {"the pattern break", {}, {1 << 16 | 1}},
        {"speed and tempo set on row 4",
         {{0, 4, 2, 15, 0xFF}, {0, 4, 3, 15, 0x01}},
         {4, 1 << 16 | 1, 2 << 16 | 4}},
        {"a row delay on row 2", {{0, 2, 1, 14, 0xE2}}, {2, 1 << 16 | 1, 2 << 16 | 2}},
        {"a position jump on row 6 to order 2", {{0, 6, 0, 11, 2}}, {6, 2 << 16 | 6}},
    };
    constexpr std::uint64_t step = 101;
    constexpr std::uint64_t lead = 39 * step;   // 3939 frames, 1.5 rows at speed 3
    constexpr std::int64_t lead_ns = 89319728;  // just over 3939 / 44100 s
    for (const AimCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Cell> cells = small_cells;
        cells.insert(cells.end(), c.extra.begin(), c.extra.end());
        ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);
        load_marked(build_xm(cells, 3, 126));

        // The song as heard: the position at every step and the marks due up to each row.
        std::vector<std::uint32_t> heard;
        std::map<std::uint32_t, std::size_t> marks_through;
        for (std::uint64_t s = 0; sound_offline_advance(s); s += step) {
            heard.push_back(BASSMOD_MusicGetPosition());
            marks_through[row_of(heard.back())] = marks.size();
        }
        const std::uint32_t end = BASSMOD_MusicGetPosition();  // past the song: its last step
        const std::vector<std::uint32_t> all_marks = marks;

        marks.clear();
        sound_set_lead_ns(lead_ns);
        ASSERT_EQ(BASSMOD_MusicPlay(), 1);
        std::uint32_t last = 0;
        for (std::uint64_t s = 0; sound_offline_advance(s); s += step) {
            const std::uint32_t p = BASSMOD_MusicGetPosition();
            const std::size_t i = (s + lead) / step;
            const std::uint32_t target = i < heard.size() ? heard[i] : end;
            ASSERT_GE(play_key(p), play_key(last)) << "went back at frame " << s;
            ASSERT_LE(play_key(p), play_key(target)) << "ahead at frame " << s;
            if (p != target) {
                ASSERT_NE(std::find(c.open_rows.begin(), c.open_rows.end(), row_of(p)),
                          c.open_rows.end())
                    << "behind at frame " << s << ": " << std::hex << p << " for " << target;
            }
            ASSERT_EQ(marks.size(), marks_through[row_of(p)]) << "at frame " << s;
            last = p;
        }
        EXPECT_EQ(marks, all_marks);
        BASSMOD_Free();
    }
}

TEST_F(Layer, LoadRejectsBadInput) {
    std::vector<std::uint8_t> xm = build_xm(small_cells, 3, 126);
    const auto size = static_cast<std::uint32_t>(xm.size());
    EXPECT_EQ(load(xm), 0) << "loaded before Init";
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);
    std::vector<std::uint8_t> noise(100000);
    std::uint32_t x = 12345;
    for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    const char text[] = "Extended Module: this is just a line of text, not a module at all";
    EXPECT_EQ(BASSMOD_MusicLoad(1, xm.data(), 0, 0, 0), 0) << "length 0";
    EXPECT_EQ(BASSMOD_MusicLoad(1, nullptr, 0, size, 0), 0);
    EXPECT_EQ(BASSMOD_MusicLoad(0, xm.data(), 0, size, 0), 0) << "only memory loads exist";
    EXPECT_EQ(load(noise), 0) << "random bytes";
    EXPECT_EQ(load(std::vector<std::uint8_t>(module_length, 0)), 0) << "zero bytes";
    EXPECT_EQ(BASSMOD_MusicLoad(1, text, 0, sizeof text, 0), 0) << "a header and nothing else";
    // Rejected loads leave nothing to play or to register.
    EXPECT_EQ(BASSMOD_MusicPlay(), 0);
    EXPECT_EQ(BASSMOD_MusicSetSync(3, 1, record, 0), 0u);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0);
    // The module at an offset inside a larger buffer loads from there.
    xm.insert(xm.begin(), 3, 0xEE);
    EXPECT_EQ(BASSMOD_MusicLoad(1, xm.data(), 3, size, 0), 1);
    EXPECT_EQ(BASSMOD_MusicSetSync(2, 1, record, 0), 0u) << "only effect marks are supported";
    EXPECT_EQ(BASSMOD_MusicSetSync(3, 1, nullptr, 0), 0u);
}

TEST_F(Layer, InitAndFreeLifecycle) {
    BASSMOD_Free();  // before any Init: nothing to release
    EXPECT_EQ(BASSMOD_Init(-7, 44100, 0), 0) << "no such device";
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 1000, 0), 0) << "rate out of range";
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 44100, 0), 1);
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 44100, 0), 0) << "already initialised";
    ASSERT_EQ(load(build_xm(small_cells, 3, 126)), 1);
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 1);
    BASSMOD_Free();
    BASSMOD_Free();
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0);
    EXPECT_EQ(BASSMOD_MusicGetPosition(), 0u);
    EXPECT_EQ(BASSMOD_MusicPlay(), 0);
    EXPECT_EQ(sound_offline_advance(1000), 0);

    // An SDL audio driver that does not exist: no device, and the silent fallback still works.
    const std::string keep = std::getenv("SDL_AUDIODRIVER");  // the test runner always sets it
    setenv("SDL_AUDIODRIVER", "no_such_driver", 1);
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_DEFAULT, 44100, 32), 0);
    setenv("SDL_AUDIODRIVER", keep.c_str(), 1);
    EXPECT_EQ(BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 44100, 0), 1);
}

// SDL's audio thread decodes while this thread reads the position (run under TSan too), unaimed
// and aimed 30 ms ahead, past what has been decoded. 18 rows of 432 frames are 0.176 s, and the
// dummy driver plays in real time; the song ends when it has been heard, aimed or not.
class RealTime : public Layer, public ::testing::WithParamInterface<std::int64_t> {};

TEST_P(RealTime, DevicePlaysToTheEnd) {
    if (BASSMOD_Init(BASSMOD_DEVICE_DEFAULT, 44100, 0) != 1) GTEST_SKIP() << "no audio device";
    load_marked(build_xm(small_cells, 1, 255));
    sound_set_lead_ns(GetParam());
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    const auto t0 = std::chrono::steady_clock::now();
    std::uint32_t previous = 0;  // order in the high half: compares in play order
    while (BASSMOD_MusicIsActive() &&
           std::chrono::steady_clock::now() < t0 + std::chrono::seconds(5)) {
        const std::uint32_t p = BASSMOD_MusicGetPosition();
        ASSERT_GE((p & 0xFFFF) << 16 | p >> 16, previous);
        previous = (p & 0xFFFF) << 16 | p >> 16;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0) << "still active after " << seconds << " s";
    EXPECT_EQ(BASSMOD_MusicGetPosition(), (7u * 256 + 255) << 16 | 2);
    EXPECT_EQ(marks, small_marks);
    EXPECT_GT(seconds, 0.12);
    EXPECT_LT(seconds, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Lead, RealTime, ::testing::Values(0, 30000000));

}  // namespace
