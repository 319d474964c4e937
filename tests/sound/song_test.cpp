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
#include "sound/decoder.h"
#include "tests/data/song_marks.h"

namespace {

// The song as the tests expect it (tests/data/song_marks.txt), and its timing.
const SongMarks& song() {
    static const SongMarks marks = song_marks_read();
    return marks;
}
constexpr std::uint64_t row_frames = 3 * 875;  // speed 3; a tick is 44100 × 2.5 / 126 frames
constexpr int song_rows = 2304;
constexpr std::uint64_t song_frames = song_rows * row_frames;
static_assert(song_frames == 6048000);

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
    void TearDown() override {
        BASSMOD_Free();
        dec_set_draft(0);
    }

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

// The song rendered at full quality and as the cheap draft of a capture without sound: the
// rows, positions and marks must be the same either way.
class WholeSong : public RealModule, public ::testing::WithParamInterface<bool> {};

// Every row: its last frame reads fraction 255 with none of the next row's marks, its first
// frame reads fraction 0 with exactly its own marks delivered, its middle floor(1312 × 256 /
// 2625) = 127. Then the end, a replay that must sound the same, and one in the other rendering
// that must be as long but sound different.
TEST_P(WholeSong, OfflineFollowsTheContract) {
    ASSERT_EQ(song().error, "");
    ASSERT_EQ(song().total_rows(), song_rows);
    dec_set_draft(GetParam());
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
            if (++row == song().orders[order].rows) row = 0, ++order;
        }
        ASSERT_EQ(sound_offline_advance(first), 1);
        ASSERT_EQ(BASSMOD_MusicGetPosition(), pos(order, row, 0)) << "row " << g;
        const std::vector<int> listed = song().at(order, row);
        const std::vector<std::uint32_t> mine(listed.begin(), listed.end());
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
    const int last = static_cast<int>(song().orders.size()) - 1;
    EXPECT_EQ(BASSMOD_MusicGetPosition(), pos(last, song().orders[last].rows - 1, 255));
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

    dec_set_draft(!GetParam());
    pcm_frames = 0;
    pcm_hash = 14695981039346656037u;
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    EXPECT_EQ(sound_offline_advance(song_frames), 0);
    EXPECT_EQ(pcm_frames, song_frames);
    EXPECT_NE(pcm_hash, first_hash) << "the draft switch changed nothing";
    EXPECT_EQ(got.size(), 3 * expected.size());
}
INSTANTIATE_TEST_SUITE_P(Rendering, WholeSong, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Draft" : "Full"; });

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
