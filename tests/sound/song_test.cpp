// The real module stepped offline through the whole song, and the no-sound device in real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sound/bassmod.h"

namespace {

// The module's contract, written out by hand: its order list, 64-row patterns, and timing.
constexpr int order_patterns[20] = {0, 1, 2, 3, 4, 4, 5, 5, 6, 7, 8, 9, 10, 6, 5, 5, 5, 11, 6, 12};
int rows_of_order(int order) {
    const int p = order_patterns[order];
    return p == 6 || p == 12 ? 64 : 128;
}
constexpr std::uint64_t row_frames = 3 * 875;  // speed 3; a tick is 44100 × 2.5 / 126 frames
constexpr int song_rows = 2304;
constexpr std::uint64_t song_frames = song_rows * row_frames;  // 6,048,000
static_assert(song_frames == 6048000);

struct Place {
    int order, row;
};

// Order and row of the g-th row played.
Place place_of(int g) {
    int order = 0;
    while (g >= rows_of_order(order)) g -= rows_of_order(order++);
    return {order, g};
}

// The sync marks of one order and row, as the module's table lists them (any channel order).
std::vector<std::uint32_t> expected_marks(int order, int row) {
    const std::vector<int> flash_a = {0, 12, 20, 32, 44, 52, 64, 76, 84};
    const std::vector<int> flash_b = {0, 32, 64, 96};
    const std::vector<int> beats = {0, 12, 20, 32, 44, 52, 64, 76, 84, 96, 108, 116};
    const std::vector<int> overlay_rows = {0, 12, 20, 32};
    const std::vector<int> overlay_rows_12 = {0, 14, 24, 32, 64, 78, 88, 96};
    std::vector<std::uint32_t> out;
    auto add = [&](const std::vector<int>& rows, std::uint32_t value) {
        for (int r : rows) {
            if (r == row) out.push_back(value);
        }
    };
    auto add_overlays = [&](const std::vector<int>& rows) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i] == row) out.push_back(static_cast<std::uint32_t>(i));
        }
    };
    if (order == 4 || order == 5) {
        add(flash_a, 255);
        add_overlays(overlay_rows);
    } else if (order == 6 || order == 7 || order == 14 || order == 15 || order == 16) {
        add(flash_b, 255);
        add(beats, 254);
        add_overlays(overlay_rows);
    } else if (order == 12) {
        add_overlays(overlay_rows_12);
    } else if (order == 17) {
        add(flash_b, 255);
        add(beats, 254);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::uint8_t> read_module() {
    const char* dir = std::getenv("VORTA_GEN_DIR");
    std::vector<std::uint8_t> bytes;
    if (!dir) return bytes;
    std::FILE* f = std::fopen((std::string(dir) + "/module.xm").c_str(), "rb");
    if (!f) return bytes;
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

// What the sync procedure saw: each mark with the frame the clock stood at when it came.
struct Delivery {
    std::uint32_t data;
    std::uint64_t at;
};
std::vector<Delivery> deliveries;
std::uint64_t clock_now;
void record(HSYNC, std::uint32_t data, std::uint32_t user) {
    EXPECT_EQ(user, 77u);
    deliveries.push_back({data, clock_now});
}

std::uint64_t sunk_frames;
void count_frames(const std::int16_t*, std::uint32_t count, void*) {
    sunk_frames += count;
}

class RealModule : public ::testing::Test {
   protected:
    void SetUp() override {
        deliveries.clear();
        sunk_frames = 0;
        module = read_module();
        ASSERT_FALSE(module.empty()) << "no module.xm in VORTA_GEN_DIR";
    }
    void TearDown() override { BASSMOD_Free(); }

    // Initialises `device` and starts the module with marks recorded and 256 steps per row.
    void start(int device) {
        ASSERT_EQ(BASSMOD_Init(device, 44100, 0), 1);
        ASSERT_EQ(
            BASSMOD_MusicLoad(1, module.data(), 0, static_cast<std::uint32_t>(module.size()), 0),
            1);
        ASSERT_NE(BASSMOD_MusicSetSync(3, 1, record, 77), 0u);
        ASSERT_EQ(BASSMOD_MusicSetPositionScaler(256), 1);
        ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    }

    std::vector<std::uint8_t> module;
};

// The position expected at frame s: order, row × 256 + fraction, packed.
std::uint32_t expected_position(std::uint64_t s) {
    const std::uint64_t g = std::min<std::uint64_t>(s / row_frames, song_rows - 1);
    std::uint64_t fraction = (s - g * row_frames) * 256 / row_frames;
    if (fraction > 255) fraction = 255;  // after the end: the last row's last step
    const Place p = place_of(static_cast<int>(g));
    return static_cast<std::uint32_t>((p.row * 256 + fraction) << 16 | p.order);
}

// Frame by frame at 60 fps as the capture tool steps it, then at every row's first and last
// frame: the position matches the hand-made timeline, marks come exactly once, each at the
// first step at or past its row's start, and the song is exactly 6,048,000 frames long.
TEST_F(RealModule, OfflineWholeSongFollowsTheContract) {
    start(BASSMOD_DEVICE_OFFLINE);
    sound_offline_set_pcm_sink(count_frames, nullptr);

    std::vector<std::uint64_t> steps;
    for (std::uint64_t k = 0;; ++k) {
        const std::uint64_t s = k * 44100 / 60;
        steps.push_back(s);
        if (s > song_frames + 44100) break;
    }
    std::uint32_t previous = 0;
    for (std::uint64_t s : steps) {
        clock_now = s;
        const int inside = sound_offline_advance(s);
        ASSERT_EQ(inside, s < song_frames ? 1 : 0) << "at frame " << s;
        ASSERT_EQ(BASSMOD_MusicIsActive(), inside) << "at frame " << s;
        const std::uint32_t pos = BASSMOD_MusicGetPosition();
        ASSERT_EQ(pos, expected_position(s)) << "at frame " << s;
        // Monotonic: order first, then row and fraction; nothing jumps back at the end.
        ASSERT_GE((pos & 0xFFFF) << 16 | pos >> 16, (previous & 0xFFFF) << 16 | previous >> 16);
        previous = pos;
    }
    EXPECT_EQ(sunk_frames, song_frames);
    EXPECT_EQ(previous, (63u * 256 + 255) << 16 | 19u);

    // Each row's marks, delivered at the first step at or after the row's start.
    std::vector<Delivery> expected;
    std::size_t step = 0;
    for (int g = 0; g < song_rows; ++g) {
        while (steps[step] < g * row_frames) ++step;
        const Place p = place_of(g);
        for (std::uint32_t d : expected_marks(p.order, p.row)) expected.push_back({d, steps[step]});
    }
    ASSERT_EQ(deliveries.size(), expected.size());
    // Within a row the channel order decides; compare rows as sorted groups.
    std::vector<Delivery> got = deliveries;
    auto by_time_then_data = [](const Delivery& a, const Delivery& b) {
        return a.at != b.at ? a.at < b.at : a.data < b.data;
    };
    std::stable_sort(got.begin(), got.end(), by_time_then_data);
    for (std::size_t i = 0; i + 1 < deliveries.size(); ++i) {
        ASSERT_LE(deliveries[i].at, deliveries[i + 1].at) << "marks out of play order";
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(got[i].at, expected[i].at) << "mark " << i;
        ASSERT_EQ(got[i].data, expected[i].data) << "mark " << i;
    }
}

TEST_F(RealModule, OfflineRowBoundariesAreExact) {
    start(BASSMOD_DEVICE_OFFLINE);
    std::uint32_t marks_before = 0;
    for (int g = 0; g < song_rows; ++g) {
        const std::uint64_t first = g * row_frames;
        const Place p = place_of(g);
        clock_now = first;
        if (g > 0) {
            ASSERT_EQ(sound_offline_advance(first - 1), 1);
            ASSERT_EQ(BASSMOD_MusicGetPosition(), expected_position(first - 1)) << "row " << g;
            // One frame before a row starts, none of its marks have come yet.
            ASSERT_EQ(deliveries.size(), marks_before) << "row " << g;
        }
        ASSERT_EQ(sound_offline_advance(first), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), static_cast<std::uint32_t>(p.row << 24 | p.order));
        marks_before += static_cast<std::uint32_t>(expected_marks(p.order, p.row).size());
        ASSERT_EQ(deliveries.size(), marks_before) << "row " << g;
    }
    EXPECT_EQ(sound_offline_advance(song_frames - 1), 1);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 1);
    EXPECT_EQ(sound_offline_advance(song_frames), 0);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0);
}

std::uint64_t pcm_hash;
int pcm_peak;
void hash_frames(const std::int16_t* frames, std::uint32_t count, void*) {
    for (std::uint32_t i = 0; i < 2 * count; ++i) {
        pcm_hash = (pcm_hash ^ static_cast<std::uint16_t>(frames[i])) * 1099511628211u;  // FNV-1a
        pcm_peak = std::max(pcm_peak, std::abs(static_cast<int>(frames[i])));
    }
}

// The capture tool needs the same sound on every run: two fresh runs and a replay after
// MusicPlay give the same samples, and the song is not silent.
TEST_F(RealModule, OfflineSoundIsTheSameEveryRun) {
    std::uint64_t hashes[3];
    for (int run = 0; run < 3; ++run) {
        if (run < 2) {
            BASSMOD_Free();
            start(BASSMOD_DEVICE_OFFLINE);
        } else {
            ASSERT_EQ(BASSMOD_MusicPlay(), 1);
        }
        pcm_hash = 14695981039346656037u;
        pcm_peak = 0;
        sound_offline_set_pcm_sink(hash_frames, nullptr);
        EXPECT_EQ(sound_offline_advance(song_frames), 0);
        hashes[run] = pcm_hash;
    }
    EXPECT_EQ(hashes[0], hashes[1]);
    EXPECT_EQ(hashes[0], hashes[2]);
    EXPECT_GT(pcm_peak, 1000);
}

// One second of the no-sound device's clock is 16.8 rows: the position is within a row of 16.
TEST_F(RealModule, NoSoundClockRunsInRealTime) {
    start(BASSMOD_DEVICE_NOSOUND);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(BASSMOD_MusicIsActive(), 1);
    std::this_thread::sleep_until(t0 + std::chrono::seconds(1));
    const std::uint32_t pos = BASSMOD_MusicGetPosition();
    EXPECT_EQ(pos & 0xFFFF, 0u);
    const int row = static_cast<int>(pos >> 24);
    EXPECT_GE(row, 15);
    EXPECT_LE(row, 17);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 1);
}

}  // namespace
