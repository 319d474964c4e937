// The SDL display layer under SDL's headless driver: format fallback, colours as drawn by the
// renderer for every format, failed locks, inactivity, restore, close requests, safe teardown.
#include "display/fb.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "display/fb_seam.h"

namespace {

constexpr int W = 320, H = 240;
Pixel32 frame_a[W * H], frame_b[W * H];

std::uint32_t lcg(std::uint32_t& s) {
    return s = s * 1664525u + 1013904223u;
}

class Fb : public ::testing::Test {
   protected:
    void SetUp() override {
        std::uint32_t seed = 99;
        // Random colours with junk in the fourth byte, and a red "F" on blue in the corner that
        // would show a red/blue swap or a mirrored picture.
        for (int i = 0; i < W * H; i++) {
            frame_a[i] = lcg(seed);
            frame_b[i] = 0x00FFFFFF - (frame_a[i] & 0xFFFFFF);
        }
        const char* shape[5] = {"####", "#...", "###.", "#...", "#..."};
        for (int y = 0; y < 5; y++) {
            for (int x = 0; x < 4; x++)
                frame_a[y * W + x] = shape[y][x] == '#' ? 0x00FF0000 : 0x000000FF;
        }
        fb_seam_accept_formats(nullptr, -1);
        fb_seam_fail_locks(0);
    }
    void TearDown() override {
        fb_close();
        fb_seam_accept_formats(nullptr, -1);
        fb_seam_fail_locks(0);
    }
    static void accept(std::initializer_list<std::uint32_t> formats) {
        fb_seam_accept_formats(formats.begin(), static_cast<int>(formats.size()));
    }
};

// Whether `got` (as read back from the renderer) shows `want` at the precision of `format`:
// each channel's top bits, as many as the format keeps, must agree.
::testing::AssertionResult same_colour(std::uint32_t format, Pixel32 want, std::uint32_t got) {
    int bits[3] = {8, 8, 8};  // red, green, blue
    if (SDL_BITSPERPIXEL(format) == 16) bits[0] = bits[1] = bits[2] = 5, bits[1] = 6;
    if (SDL_BITSPERPIXEL(format) == 15) bits[0] = bits[1] = bits[2] = 5;
    for (int c = 0; c < 3; c++) {
        const int shift = 16 - 8 * c;
        const unsigned keep = (0xFFu << (8 - bits[c])) & 0xFF;
        if ((((want >> shift) & 0xFF) & keep) != (((got >> shift) & 0xFF) & keep)) {
            char text[96];
            std::snprintf(text, sizeof text, "want 0x%06X got 0x%06X in %s",
                          unsigned(want & 0xFFFFFF), unsigned(got), SDL_GetPixelFormatName(format));
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}

void expect_frame_shown(const Pixel32* frame) {
    static std::uint32_t back[W * H];
    ASSERT_EQ(fb_seam_read_back(back), 1) << SDL_GetError();
    const std::uint32_t format = fb_seam_format();
    int bad = 0;
    for (int i = 0; i < W * H && bad < 5; i++) {
        const auto r = same_colour(format, frame[i], back[i]);
        if (!r) {
            ADD_FAILURE() << "pixel " << i % W << "," << i / W << ": " << r.message();
            bad++;
        }
    }
}

TEST_F(Fb, DepthFallsBackFrom32To24To16ThenFails) {
    ASSERT_EQ(fb_open("vorta", W, H), 1) << SDL_GetError();
    EXPECT_EQ(SDL_BYTESPERPIXEL(fb_seam_format()), 4u);  // 32 bits of storage
    fb_close();

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
            // A failed open leaves nothing behind, and updates behave as inactive: the null
            // frame below would crash if anything were converted.
            EXPECT_EQ(fb_seam_window(), nullptr);
            EXPECT_EQ(fb_update(nullptr), 1);
            EXPECT_EQ(fb_seam_locks(), 0);
        }
        fb_close();
    }
}

TEST_F(Fb, EveryFormatShowsTheFramebufferColours) {
    const std::uint32_t formats[] = {SDL_PIXELFORMAT_RGB888,   SDL_PIXELFORMAT_BGR888,
                                     SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_ABGR8888,
                                     SDL_PIXELFORMAT_RGB24,    SDL_PIXELFORMAT_BGR24,
                                     SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_BGR565,
                                     SDL_PIXELFORMAT_RGB555,   SDL_PIXELFORMAT_BGR555};
    for (std::uint32_t f : formats) {
        SCOPED_TRACE(SDL_GetPixelFormatName(f));
        accept({f});
        ASSERT_EQ(fb_open("vorta", W, H), 1) << SDL_GetError();
        ASSERT_EQ(fb_seam_format(), f);
        EXPECT_EQ(fb_update(frame_a), 1);
        expect_frame_shown(frame_a);
        EXPECT_EQ(fb_update(frame_b), 1);
        expect_frame_shown(frame_b);
        fb_close();
    }
}

TEST_F(Fb, FailedLockReturnsZeroAndPresentsNothing) {
    ASSERT_EQ(fb_open("vorta", W, H), 1);
    EXPECT_EQ(fb_update(frame_a), 1);
    EXPECT_EQ(fb_seam_presents(), 1);
    fb_seam_fail_locks(2);
    EXPECT_EQ(fb_update(frame_b), 0);
    EXPECT_EQ(fb_update(frame_b), 0);
    EXPECT_EQ(fb_seam_presents(), 1);
    expect_frame_shown(frame_a);       // the texture still holds the last good frame
    EXPECT_EQ(fb_update(frame_b), 1);  // and the next call tries again
    EXPECT_EQ(fb_seam_presents(), 2);
    expect_frame_shown(frame_b);
}

TEST_F(Fb, InactiveWindowSkipsFramesButKeepsPumping) {
    ASSERT_EQ(fb_open("vorta", W, H), 1);
    SDL_Window* window = fb_seam_window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(fb_update(frame_a), 1);  // shown, and no focus event yet: active
    EXPECT_EQ(fb_seam_presents(), 1);

    auto send = [&](Uint8 what) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = SDL_GetWindowID(window);
        e.window.event = what;
        SDL_PushEvent(&e);
    };
    send(SDL_WINDOWEVENT_FOCUS_LOST);
    const Uint64 t0 = SDL_GetTicks64();
    for (int i = 0; i < 5; i++) EXPECT_EQ(fb_update(frame_b), 1);
    EXPECT_GE(SDL_GetTicks64() - t0, 5u);  // a sleep in place of each frame, no spinning
    EXPECT_EQ(fb_seam_locks(), 1);
    EXPECT_EQ(fb_seam_presents(), 1);
    send(SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(fb_update(frame_b), 1);
    EXPECT_EQ(fb_seam_presents(), 2);

    SDL_HideWindow(window);
    EXPECT_EQ(fb_update(frame_a), 1);
    EXPECT_EQ(fb_seam_presents(), 2);
    SDL_ShowWindow(window);
    EXPECT_EQ(fb_update(frame_a), 1);
    EXPECT_EQ(fb_seam_presents(), 3);
}

TEST_F(Fb, LostTexturesAreRecreatedBeforeTheNextLock) {
    accept({SDL_PIXELFORMAT_RGB565});
    ASSERT_EQ(fb_open("vorta", W, H), 1);
    EXPECT_EQ(fb_update(frame_a), 1);
    for (Uint32 type : {SDL_RENDER_TARGETS_RESET, SDL_RENDER_DEVICE_RESET}) {
        SDL_Event e{};
        e.type = type;
        SDL_PushEvent(&e);
        EXPECT_EQ(fb_update(frame_b), 1);
        EXPECT_EQ(fb_seam_format(), std::uint32_t{SDL_PIXELFORMAT_RGB565});
        expect_frame_shown(frame_b);
        std::swap(frame_a, frame_b);
    }
}

TEST_F(Fb, CloseIsSafeWithoutOpenAndTwice) {
    fb_close();
    fb_close();
    EXPECT_EQ(fb_update(nullptr), 1);  // no display: inactive, touches nothing
    EXPECT_EQ(fb_escape_pressed(), 0);
    ASSERT_EQ(fb_open("vorta", W, H), 1);
    EXPECT_EQ(fb_escape_pressed(), 0);
    fb_close();
    fb_close();
    EXPECT_EQ(fb_seam_window(), nullptr);
    EXPECT_EQ(fb_seam_format(), 0u);
}

TEST_F(Fb, EscapeTapShorterThanAFrameStillCounts) {
    ASSERT_EQ(fb_open("vorta", W, H), 1);
    EXPECT_EQ(fb_escape_pressed(), 0);
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_PushEvent(&e);
    e.type = SDL_KEYUP;
    SDL_PushEvent(&e);
    EXPECT_NE(fb_escape_pressed(), 0);
    EXPECT_EQ(fb_escape_pressed(), 0);  // once per tap
    EXPECT_EQ(fb_update(frame_a), 1);   // the events stay for the pump, which ignores them
}

using FbDeathTest = Fb;

TEST_F(FbDeathTest, CloseRequestsEndTheProcessWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            fb_open("vorta", W, H);
            SDL_Event e{};
            e.type = SDL_QUIT;  // also what SIGINT and SIGTERM become
            SDL_PushEvent(&e);
            fb_update(frame_a);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            fb_open("vorta", W, H);
            SDL_Event e{};
            e.type = SDL_WINDOWEVENT;
            e.window.windowID = SDL_GetWindowID(fb_seam_window());
            e.window.event = SDL_WINDOWEVENT_CLOSE;
            SDL_PushEvent(&e);
            fb_update(frame_a);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Fb, MessageBoxReportsOnStderrWithoutBlockingHeadless) {
    ::testing::internal::CaptureStderr();
    fb_message_box("no display here");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no display here\n");
}

}  // namespace
