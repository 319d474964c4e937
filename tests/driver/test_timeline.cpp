// The scene script, order by order, on constructed clock and sync states. Each expected frame is
// built from the renderer and blend primitives (tested on their own), so these tests check the
// script: which steps run, in which order, with which amounts.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "assets/assets.h"
#include "driver/sync.h"
#include "driver/timeline.h"
#include "effects/blend.h"
#include "tunnel/mapper.h"
#include "tunnel/rays.h"

namespace {

using Frame = std::vector<Pixel32>;

// Frames compare equal, or the first differing pixel is named.
::testing::AssertionResult same(const Frame& actual, const Frame& expected) {
    for (std::size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i])
            return ::testing::AssertionFailure()
                   << "pixel (" << i % screen_width << ", " << i / screen_width << ") is 0x"
                   << std::hex << actual[i] << ", expected 0x" << expected[i];
    return ::testing::AssertionSuccess();
}

MusicPosition at(int order, float row) {
    return MusicPosition{order, row, static_cast<float>(order * 128) + row};
}

class Timeline : public ::testing::Test {
   protected:
    void SetUp() override {
        sync_reset();
        rays_init();
    }

    // Traces the grid for the clock, as the main loop does before composing.
    Frame compose(const MusicPosition& now, float previous_time) {
        tunnel_trace(tunnel_camera(now.time, beat_count.load()));
        Frame f(screen_pixels, 0xDEADBEEF);
        timeline_compose(f.data(), now, previous_time);
        return f;
    }
    Frame compose(const MusicPosition& now) { return compose(now, now.time); }

    // The tunnel of the grid traced by the last compose().
    static Frame tunnel(const Pixel32* texture) {
        Frame f(screen_pixels);
        tunnel_draw(f.data(), texture);
        return f;
    }
    static Frame fade(Frame f, std::uint32_t colour, std::int32_t amount) {
        fade_to_color(f.data(), f.data(), screen_pixels, colour, amount);
        return f;
    }
    static Frame mask(Frame f, const Pixel32* m) {
        multiply_mask(f.data(), m);
        return f;
    }
};

constexpr std::uint32_t black = 0, white = 0xFFFFFF;

TEST_F(Timeline, FadeInOverTheFirst256Rows) {
    Frame f = compose(at(0, 10.0f));
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), black, 245)));
    f = compose(at(1, 126.5f));  // T = 254.5: amount truncates to 0
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), black, 0)));
    f = compose(at(1, 127.5f));  // T = 255.5: 255 − T is −0.5, which truncates to 0, not 255
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), black, 0)));
}

TEST_F(Timeline, PlainTunnelInOrders2And3EvenWithAFlashPending) {
    flash_level = 1.0f;
    Frame f = compose(at(2, 40.0f), 100.0f);
    EXPECT_TRUE(same(f, tunnel(texture_a)));
    f = compose(at(3, 0.0f), 100.0f);
    EXPECT_TRUE(same(f, tunnel(texture_a)));
    EXPECT_EQ(flash_level.load(), 1.0f);  // no decay outside the flash orders
}

TEST_F(Timeline, Order8FadeWrapsAtRow32) {
    Frame f = compose(at(8, 31.0f));
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), black, 248)));
    f = compose(at(8, 31.9f));  // amount 255: black but for the rounding of the keep factor
    for (Pixel32 p : f) ASSERT_EQ(p, 0u);
    f = compose(at(8, 32.0f));  // 256 wraps to 0: full brightness again
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), black, 0)));
    f = compose(at(8, 63.0f));
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), black, 504)));
}

TEST_F(Timeline, Order9FadesInOnlyOverItsFirst64Rows) {
    // Row 63.9: 255 − 255.6 truncates to 0, so the fade still runs (dimming by 255/256) and the
    // flash step follows with strength 0.
    Frame f = compose(at(9, 63.9f));
    EXPECT_TRUE(same(f, fade(fade(tunnel(texture_b), black, 0), white, 0)));
    f = compose(at(9, 16.0f));
    EXPECT_TRUE(same(f, fade(fade(tunnel(texture_b), black, 191), white, 0)));
    // From row 64 on there is no fade step at all.
    f = compose(at(9, 64.0f));
    EXPECT_TRUE(same(f, fade(tunnel(texture_b), white, 0)));
}

TEST_F(Timeline, FlashDiesAwayOverFiveRowsAndStopsAtZero) {
    flash_level = 1.0f;
    Frame f = compose(at(6, 10.0f), 6 * 128 + 9.0f);
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), white, 255)));
    EXPECT_FLOAT_EQ(flash_level.load(), 0.8f);
    compose(at(6, 12.0f), 6 * 128 + 10.0f);
    EXPECT_NEAR(flash_level.load(), 0.4f, 1e-6);
    f = compose(at(6, 13.0f), 6 * 128 + 12.0f);
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), white, 102)));  // trunc(0.4 × 255)
    compose(at(6, 20.0f), 6 * 128 + 13.0f);                     // seven rows: clamped, not negative
    EXPECT_EQ(flash_level.load(), 0.0f);
    // At zero the white blend still runs with amount 0.
    f = compose(at(7, 0.0f), 7 * 128.0f);
    EXPECT_TRUE(same(f, fade(tunnel(texture_a), white, 0)));
}

TEST_F(Timeline, SecondHalfResetsTheBeatCountOnce) {
    beat_count = 37;
    compose(at(9, 0.0f));
    EXPECT_EQ(beat_count.load(), 0);
    EXPECT_EQ(second_half_started, 1);
    beat_count = 5;
    compose(at(10, 3.0f));
    compose(at(14, 3.0f));
    EXPECT_EQ(beat_count.load(), 5);
}

TEST_F(Timeline, MasksFollowTheOverlayValueModuloTheSetSize) {
    mask_selection = 6;
    Frame f = compose(at(4, 20.0f));
    EXPECT_TRUE(same(f, mask(fade(tunnel(texture_a), white, 0), mask_set_a[2])));
    f = compose(at(5, 20.0f));
    EXPECT_TRUE(same(f, mask(fade(tunnel(texture_a), white, 0), mask_set_b[2])));
    f = compose(at(12, 90.0f));
    EXPECT_TRUE(same(f, mask(fade(tunnel(texture_b), white, 0), mask_set_c[6])));
    f = compose(at(16, 90.0f));
    EXPECT_TRUE(same(f, mask(fade(tunnel(texture_b), white, 0), mask_set_d[2])));
    // Orders between the mask stretches show no mask.
    f = compose(at(13, 10.0f));
    EXPECT_TRUE(same(f, fade(tunnel(texture_b), white, 0)));
}

TEST_F(Timeline, EndPictureFromOrder18Unchanged) {
    flash_level = 1.0f;
    mask_selection = 3;
    const Frame end(end_picture, end_picture + screen_pixels);
    EXPECT_TRUE(same(compose(at(18, 5.0f)), end));
    EXPECT_TRUE(same(compose(at(19, 63.9f)), end));
    EXPECT_EQ(flash_level.load(), 1.0f);
}

}  // namespace
