// The SDL display layer under SDL's dummy driver, through its test seam: format fallback, colours
// read back in every format, failed locks, lost textures, inactivity, Escape, safe teardown.
#include "display/fb.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

#include "display/fb_seam.h"

namespace {

constexpr int W = 320, H = 240;
Pixel32 frame_a[W * H], frame_b[W * H];

class Fb : public ::testing::Test {
   protected:
    void SetUp() override {
        // Random colours with junk in the fourth byte (a red/blue swap or a mirror shows), and
        // their complement.
        std::uint32_t seed = 99;
        for (int i = 0; i < W * H; i++) {
            frame_a[i] = seed = seed * 1664525u + 1013904223u;
            frame_b[i] = ~seed & 0xFFFFFF;
        }
    }
    void TearDown() override {
        fb_close();
        fb_seam_accept_formats(nullptr, -1);
        fb_seam_fail_locks(0);
    }
};

// The renderer's picture read back equals `frame` in every channel bit the format keeps.
void expect_shown(const Pixel32* frame) {
    static std::uint32_t back[W * H];
    ASSERT_EQ(fb_seam_read_back(back), 1) << SDL_GetError();
    const std::uint32_t format = fb_seam_format(), bits = SDL_BITSPERPIXEL(format);
    const std::uint32_t keep = bits == 16 ? 0xF8FCF8 : bits == 15 ? 0xF8F8F8 : 0xFFFFFF;
    int bad = 0, first = 0;
    for (int i = W * H - 1; i >= 0; i--) {
        if ((frame[i] ^ back[i]) & keep) bad++, first = i;
    }
    EXPECT_EQ(bad, 0) << SDL_GetPixelFormatName(format) << ", first at " << first % W << ","
                      << first / W << std::hex << ": want " << (frame[first] & 0xFFFFFF) << " got "
                      << back[first];
}

// Queues an event for the display's window: a window event `what`, else the Escape key.
void push(Uint32 type, Uint8 what = 0) {
    SDL_Event e{};
    e.type = type;
    e.window.windowID = SDL_GetWindowID(fb_seam_window());  // where key events keep it too
    e.window.event = what;
    if (!what) e.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_PushEvent(&e);
}

TEST_F(Fb, DepthFallsBackFrom32To24To16ThenFailsAndCloseIsAlwaysSafe) {
    fb_close();  // nothing open yet
    EXPECT_EQ(fb_update(nullptr), 1);
    ASSERT_EQ(fb_open("vorta", W, H), 1) << SDL_GetError();
    EXPECT_EQ(SDL_BYTESPERPIXEL(fb_seam_format()), 4u);  // every format accepted: 32 bits
    const struct {
        std::vector<std::uint32_t> accepted;
        std::uint32_t chosen;  // 0: fb_open fails
    } cases[] = {
        {{SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_BGR24, SDL_PIXELFORMAT_RGB24},
         SDL_PIXELFORMAT_RGB24},
        {{SDL_PIXELFORMAT_BGR555, SDL_PIXELFORMAT_BGR24}, SDL_PIXELFORMAT_BGR24},
        {{SDL_PIXELFORMAT_BGR555, SDL_PIXELFORMAT_RGB565}, SDL_PIXELFORMAT_RGB565},
        {{SDL_PIXELFORMAT_BGR555}, SDL_PIXELFORMAT_BGR555},
        {{SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_RGB24}, SDL_PIXELFORMAT_ABGR8888},
        // Formats without a converter count as refused.
        {{SDL_PIXELFORMAT_RGB444, SDL_PIXELFORMAT_RGB332, SDL_PIXELFORMAT_YV12}, 0},
        {{}, 0},
    };
    for (const auto& c : cases) {
        fb_seam_accept_formats(c.accepted.data(), static_cast<int>(c.accepted.size()));
        EXPECT_EQ(fb_open("vorta", W, H), c.chosen != 0) << SDL_GetPixelFormatName(c.chosen);
        EXPECT_EQ(fb_seam_format(), c.chosen) << SDL_GetPixelFormatName(fb_seam_format());
        if (!c.chosen) {
            // Nothing left behind; updates are inactive (the null frame would crash if converted).
            EXPECT_EQ(fb_seam_window(), nullptr);
            EXPECT_EQ(fb_update(nullptr), 1);
            EXPECT_EQ(fb_seam_locks(), 0);
            EXPECT_EQ(fb_escape_pressed(), 0);
            fb_close();  // and again below
        }
        fb_close();
    }
}

TEST_F(Fb, EveryFormatShowsTheColoursThroughFailedLocksAndLostTextures) {
    const std::uint32_t formats[] = {SDL_PIXELFORMAT_RGB888,   SDL_PIXELFORMAT_BGR888,
                                     SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_ABGR8888,
                                     SDL_PIXELFORMAT_RGB24,    SDL_PIXELFORMAT_BGR24,
                                     SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_BGR565,
                                     SDL_PIXELFORMAT_RGB555,   SDL_PIXELFORMAT_BGR555};
    for (int i = 0; i < 10; i++) {
        const std::uint32_t f = formats[i];
        fb_seam_accept_formats(&f, 1);
        ASSERT_EQ(fb_open("vorta", W, H), 1) << SDL_GetError();
        ASSERT_EQ(fb_seam_format(), f);
        EXPECT_EQ(fb_update(frame_a), 1);
        expect_shown(frame_a);
        // A refused lock returns 0 and presents nothing; the next call tries again.
        fb_seam_fail_locks(1);
        EXPECT_EQ(fb_update(frame_b), 0);
        EXPECT_EQ(fb_seam_presents(), 1);
        // Lost textures are recreated in the same format before the next lock.
        push(i % 2 ? SDL_RENDER_TARGETS_RESET : SDL_RENDER_DEVICE_RESET);
        EXPECT_EQ(fb_update(frame_b), 1);
        EXPECT_EQ(fb_seam_presents(), 2);
        EXPECT_EQ(fb_seam_format(), f);
        expect_shown(frame_b);
    }
}

TEST_F(Fb, InactiveWindowSkipsFramesButKeepsPumpingAndEscapeTapsCount) {
    ASSERT_EQ(fb_open("vorta", W, H), 1);
    EXPECT_EQ(fb_update(frame_a), 1);  // no focus event yet: active
    EXPECT_EQ(fb_seam_presents(), 1);
    push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST);
    const Uint64 t0 = SDL_GetTicks64();
    for (int i = 0; i < 5; i++) EXPECT_EQ(fb_update(frame_b), 1);
    EXPECT_GE(SDL_GetTicks64() - t0, 5u);  // a sleep in place of each frame, no spinning
    EXPECT_EQ(fb_seam_locks(), 1);
    EXPECT_EQ(fb_seam_presents(), 1);
    push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(fb_update(frame_b), 1);
    EXPECT_EQ(fb_seam_presents(), 2);
    SDL_HideWindow(fb_seam_window());
    EXPECT_EQ(fb_update(frame_a), 1);
    EXPECT_EQ(fb_seam_presents(), 2);
    SDL_ShowWindow(fb_seam_window());
    EXPECT_EQ(fb_update(frame_a), 1);
    EXPECT_EQ(fb_seam_presents(), 3);

    // An Escape tap shorter than a frame (down and up in one pump) counts, once.
    EXPECT_EQ(fb_escape_pressed(), 0);
    push(SDL_KEYDOWN);
    push(SDL_KEYUP);
    EXPECT_NE(fb_escape_pressed(), 0);
    EXPECT_EQ(fb_escape_pressed(), 0);
}

}  // namespace
