// The whole show, start to end, through the per-frame pass of the main loop, driven by the
// sound layer's offline device at 60 frames per second.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "assets/assets.h"
#include "driver/frame.h"
#include "driver/music_position.h"
#include "driver/show_sound.h"
#include "driver/sync.h"
#include "sound/bassmod.h"

namespace {

TEST(Show, PlaysFromFadeInToEndPicture) {
    ASSERT_EQ(show_open_offline(), 1);
    demo_reset();
    show_play(sync_event_proc);

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

}  // namespace
