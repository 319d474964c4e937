// The real module stepped offline through the whole song, and the no-sound device in real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sound/bassmod.h"

namespace {

// The module's contract, written out by hand: order list, pattern lengths, timing, mark table.
constexpr int order_patterns[20] = {0, 1, 2, 3, 4, 4, 5, 5, 6, 7, 8, 9, 10, 6, 5, 5, 5, 11, 6, 12};
int rows_of(int order) {
    return order_patterns[order] == 6 || order_patterns[order] == 12 ? 64 : 128;
}
constexpr std::uint64_t row_frames = 3 * 875;  // speed 3; a tick is 44100 × 2.5 / 126 frames
constexpr int song_rows = 2304;
constexpr std::uint64_t song_frames = song_rows * row_frames;
static_assert(song_frames == 6048000);

// The marks of one order and row as the mark table lists them, sorted.
std::vector<std::uint32_t> expected_marks(int order, int row) {
    static const std::vector<int> flash_a = {0, 12, 20, 32, 44, 52, 64, 76, 84},
                                  flash_b = {0, 32, 64, 96},
                                  beats = {0, 12, 20, 32, 44, 52, 64, 76, 84, 96, 108, 116},
                                  overlays = {0, 12, 20, 32},
                                  overlays_12 = {0, 14, 24, 32, 64, 78, 88, 96};
    std::vector<std::uint32_t> out;
    auto add = [&](const std::vector<int>& rows, int value) {  // value -1: the index in `rows`
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i] == row) out.push_back(value < 0 ? static_cast<std::uint32_t>(i) : value);
        }
    };
    const bool a = order == 4 || order == 5;
    const bool b = order == 6 || order == 7 || (order >= 14 && order <= 17);
    if (a) add(flash_a, 255);
    if (b) add(flash_b, 255), add(beats, 254);
    if (a || (b && order != 17)) add(overlays, -1);
    if (order == 12) add(overlays_12, -1);
    std::sort(out.begin(), out.end());
    return out;
}

constexpr std::uint32_t pos(int order, int row, int fraction) {
    return static_cast<std::uint32_t>((row * 256 + fraction) << 16 | order);
}

std::vector<std::uint32_t> got;  // marks as delivered
void record(HSYNC, std::uint32_t data, std::uint32_t user) {
    EXPECT_EQ(user, 77u);
    got.push_back(data);
}

std::uint64_t pcm_frames, pcm_hash;
int pcm_peak;
void hash_pcm(const std::int16_t* frames, std::uint32_t count, void*) {
    pcm_frames += count;
    for (std::uint32_t i = 0; i < 2 * count; ++i) {
        pcm_hash = (pcm_hash ^ static_cast<std::uint16_t>(frames[i])) * 1099511628211u;  // FNV-1a
        pcm_peak = std::max(pcm_peak, std::abs(static_cast<int>(frames[i])));
    }
}

class RealModule : public ::testing::Test {
   protected:
    void TearDown() override { BASSMOD_Free(); }

    // Starts the generated module on `device` with marks recorded and 256 steps per row.
    void start(int device) {
        std::ifstream in(std::string(std::getenv("VORTA_GEN_DIR")) + "/module.xm",
                         std::ios::binary);
        module.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_FALSE(module.empty()) << "no module.xm in VORTA_GEN_DIR";
        got.clear();
        ASSERT_EQ(BASSMOD_Init(device, 44100, 0), 1);
        ASSERT_EQ(BASSMOD_MusicLoad(1, module.data(), 0, std::uint32_t(module.size()), 0), 1);
        ASSERT_NE(BASSMOD_MusicSetSync(3, 1, record, 77), 0u);
        ASSERT_EQ(BASSMOD_MusicSetPositionScaler(256), 1);
        ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    }

    std::vector<char> module;
};

// Every row: its last frame reads fraction 255 with none of the next row's marks, its first
// frame reads fraction 0 with exactly its own marks delivered, its middle floor(1312 × 256 /
// 2625) = 127. Then the end, and a replay that must sound the same.
TEST_F(RealModule, OfflineWholeSongFollowsTheContract) {
    start(BASSMOD_DEVICE_OFFLINE);
    pcm_frames = pcm_peak = 0;
    pcm_hash = 14695981039346656037u;
    sound_offline_set_pcm_sink(hash_pcm, nullptr);
    std::vector<std::uint32_t> expected;
    int order = 0, row = 0;
    for (int g = 0; g < song_rows; ++g) {
        const std::uint64_t first = g * row_frames;
        if (g > 0) {
            ASSERT_EQ(sound_offline_advance(first - 1), 1);
            ASSERT_EQ(BASSMOD_MusicGetPosition(), pos(order, row, 255)) << "row " << g;
            ASSERT_EQ(got.size(), expected.size()) << "marks early at row " << g;
            if (++row == rows_of(order)) row = 0, ++order;
        }
        ASSERT_EQ(sound_offline_advance(first), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), pos(order, row, 0)) << "row " << g;
        const std::vector<std::uint32_t> mine = expected_marks(order, row);
        expected.insert(expected.end(), mine.begin(), mine.end());
        ASSERT_EQ(got.size(), expected.size()) << "row " << g;
        std::sort(got.end() - std::ptrdiff_t(mine.size()), got.end());  // channel order aside
        ASSERT_EQ(got, expected) << "row " << g;
        ASSERT_EQ(sound_offline_advance(first + 1312), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), pos(order, row, 127)) << "row " << g;
    }
    EXPECT_EQ(sound_offline_advance(song_frames - 1), 1);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 1);
    EXPECT_EQ(sound_offline_advance(song_frames), 0);
    EXPECT_EQ(BASSMOD_MusicIsActive(), 0);
    EXPECT_EQ(sound_offline_advance(song_frames + 44100), 0);
    sound_offline_advance(0);  // an earlier frame moves nothing back
    // No jump back to order 0 at the end, and no marks after it.
    EXPECT_EQ(BASSMOD_MusicGetPosition(), pos(19, 63, 255));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(pcm_frames, song_frames);
    EXPECT_GT(pcm_peak, 1000);

    // Played again in one step: the same samples and every mark once more.
    const std::uint64_t first_hash = pcm_hash;
    pcm_hash = 14695981039346656037u;
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    EXPECT_EQ(sound_offline_advance(song_frames), 0);
    EXPECT_EQ(pcm_hash, first_hash);
    EXPECT_EQ(got.size(), 2 * expected.size());
}

// The no-sound device's clock plays 16.8 rows a second: after a second's sleep the position is
// at least row 16, and no further than the time measured around start and query allows (the
// sleep may overrun on a loaded machine).
TEST_F(RealModule, NoSoundClockRunsInRealTime) {
    const auto t0 = std::chrono::steady_clock::now();
    start(BASSMOD_DEVICE_NOSOUND);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::uint32_t p = BASSMOD_MusicGetPosition();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(p & 0xFFFF, 0u);
    EXPECT_GE(p >> 24, 16u);
    EXPECT_LE(p >> 24, static_cast<std::uint32_t>(elapsed * 44100 / 2625));
    EXPECT_EQ(BASSMOD_MusicIsActive(), 1);
}

}  // namespace
