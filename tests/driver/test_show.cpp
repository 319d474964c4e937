// The whole show, start to end, through the per-frame pass of the main loop, driven by the
// sound layer's offline device at 60 frames per second.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "assets/assets.h"
#include "driver/frame.h"
#include "driver/music_position.h"
#include "driver/show_sound.h"
#include "driver/sync.h"
#include "sound/bassmod.h"
#include "tests/golden/hash.h"

namespace {

// The song on the offline device and the show at its first frame, as the program starts them.
void start_show() {
    ASSERT_EQ(show_open_offline(), 1);
    demo_reset();
    show_play(sync_event_proc);
}

TEST(Show, PlaysFromFadeInToEndPicture) {
    start_show();

    int frames = 0, last_order = -1, beats_before_second_half = 0;
    bool first_frame_black = false, saw_flash = false;
    for (std::uint64_t k = 0;; ++k) {
        std::uint64_t sample = k * show_rate / 60;
        if (!sound_offline_advance(sample) || !BASSMOD_MusicIsActive()) break;
        std::uint32_t position = BASSMOD_MusicGetPosition();
        int order = music_position(position).order;
        ASSERT_GE(order, last_order) << "frame " << k;
        if (order == 8) beats_before_second_half = beat_count.load();
        demo_frame(position);
        if (k == 0)
            first_frame_black = std::all_of(framebuffer, framebuffer + screen_pixels,
                                            [](Pixel32 p) { return p == 0; });
        if (flash_level.load() > 0.5f) saw_flash = true;
        last_order = order;
        ++frames;
    }
    BASSMOD_Free();

    // 137.14 s at 60 frames per second.
    EXPECT_EQ(frames, 8229);
    EXPECT_EQ(last_order, 19);
    EXPECT_TRUE(first_frame_black);  // T = 0: the fade-in starts from black
    EXPECT_TRUE(saw_flash);
    EXPECT_EQ(beats_before_second_half, 2 * 12);  // orders 6 and 7 carry 12 beats each
    EXPECT_EQ(second_half_started, 1);
    EXPECT_EQ(std::memcmp(framebuffer, end_picture, sizeof framebuffer), 0);
}

// Music position as (order, row) in one comparable number.
int order_row(std::uint32_t position) {
    const MusicPosition at = music_position(position);
    return at.order * 256 + static_cast<int>(at.row);
}

// A stretch of music positions, order × 256 + row, from `from` up to (not including) `to`.
struct Stretch {
    int from, to;
    const char* what;
};

// One pass of a show: the frame's hash (0 when nothing was drawn) and the stretch the pass lies
// in or last left (-1 before the first).
struct Pass {
    std::uint64_t hash;
    int stretch;
};

// The whole show at 60 frames per second, the passes within `hidden` shown nothing, as while the
// window is minimised.
std::vector<Pass> play(const std::vector<Stretch>& hidden) {
    start_show();
    std::vector<Pass> passes;
    int last = -1;
    for (std::uint64_t k = 0; sound_offline_advance(k * 44100 / 60) && BASSMOD_MusicIsActive();
         ++k) {
        const std::uint32_t position = BASSMOD_MusicGetPosition();
        const int at = order_row(position);
        bool skip = false;
        for (std::size_t i = 0; i < hidden.size(); ++i) {
            if (at >= hidden[i].from && at < hidden[i].to) skip = true, last = static_cast<int>(i);
        }
        if (skip) {
            demo_skip(position);
            passes.push_back({0, last});
        } else {
            demo_frame(position);
            passes.push_back({golden_hash(framebuffer), last});
        }
    }
    BASSMOD_Free();
    return passes;
}

// Passes that show nothing change nothing the show remembers: every frame after an inactive
// stretch is the frame of the run that drew throughout.
TEST(Show, InactiveStretchesLeaveLaterFramesUnchanged) {
    constexpr int rows = 256;
    const std::vector<Stretch> stretches = {
        {0, 3 * rows + 20, "from the first frame, through the fade-in"},
        {4 * rows + 10, 6 * rows + 5, "flashes and both mask sets of the first half"},
        {7 * rows + 60, 9 * rows + 30, "the second half's beat reset and fade-in"},
        {12 * rows + 2, 12 * rows + 3, "a single row with a mask"},
        {15 * rows + 40, 18 * rows + 10, "into the end picture"},
    };
    const std::vector<Pass> drawn = play({});
    const std::vector<Pass> skipped = play(stretches);
    ASSERT_EQ(drawn.size(), 8229u);
    ASSERT_EQ(skipped.size(), drawn.size());
    std::vector<int> hidden(stretches.size()), differing(stretches.size()),
        first(stretches.size(), -1);
    for (std::size_t k = 0; k < drawn.size(); ++k) {
        const int s = skipped[k].stretch;
        if (skipped[k].hash == 0) {
            ++hidden[s];
        } else if (skipped[k].hash != drawn[k].hash) {
            ASSERT_GE(s, 0) << "frame " << k << " differs before any stretch";
            if (first[s] < 0) first[s] = static_cast<int>(k);
            ++differing[s];
        }
    }
    for (std::size_t i = 0; i < stretches.size(); ++i) {
        SCOPED_TRACE(stretches[i].what);
        EXPECT_GT(hidden[i], 0);  // the stretch was met
        EXPECT_EQ(differing[i], 0) << "first differing frame after it: " << first[i];
    }
}

}  // namespace
