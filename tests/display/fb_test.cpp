// The SDL display layer live under SDL's dummy driver, on both present paths, read back through
// SDL's own API. A fake of a few SDL calls, linked in with --wrap, refuses on request and counts
// presents.
#include "display/fb.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "display/fb_path.h"

// The fake: passes every call through unless a test asks for refusals.
namespace fake {
int fail_surfaces, fail_locks, textures_created, presents;
std::vector<std::uint32_t> texture_formats;  // empty: every format
}  // namespace fake

extern "C" {
SDL_Surface* __real_SDL_GetWindowSurface(SDL_Window* w);
int __real_SDL_LockTexture(SDL_Texture* t, const SDL_Rect* r, void** pixels, int* pitch);
SDL_Texture* __real_SDL_CreateTexture(SDL_Renderer* r, Uint32 format, int access, int w, int h);
int __real_SDL_UpdateWindowSurface(SDL_Window* w);
int __real_SDL_UpdateWindowSurfaceRects(SDL_Window* w, const SDL_Rect* rects, int n);
void __real_SDL_RenderPresent(SDL_Renderer* r);

SDL_Surface* __wrap_SDL_GetWindowSurface(SDL_Window* w) {
    if (fake::fail_surfaces > 0) return fake::fail_surfaces--, nullptr;
    return __real_SDL_GetWindowSurface(w);
}
int __wrap_SDL_LockTexture(SDL_Texture* t, const SDL_Rect* r, void** pixels, int* pitch) {
    if (fake::fail_locks > 0) return fake::fail_locks--, -1;
    return __real_SDL_LockTexture(t, r, pixels, pitch);
}
SDL_Texture* __wrap_SDL_CreateTexture(SDL_Renderer* r, Uint32 format, int access, int w, int h) {
    bool ok = fake::texture_formats.empty();
    for (auto f : fake::texture_formats) ok |= f == format;
    if (!ok) return nullptr;
    fake::textures_created++;
    return __real_SDL_CreateTexture(r, format, access, w, h);
}
int __wrap_SDL_UpdateWindowSurface(SDL_Window* w) {
    fake::presents++;
    return __real_SDL_UpdateWindowSurface(w);
}
int __wrap_SDL_UpdateWindowSurfaceRects(SDL_Window* w, const SDL_Rect* rects, int n) {
    fake::presents++;
    return __real_SDL_UpdateWindowSurfaceRects(w, rects, n);
}
void __wrap_SDL_RenderPresent(SDL_Renderer* r) {
    fake::presents++;
    __real_SDL_RenderPresent(r);
}
}

namespace {

constexpr int W = 320, H = 240;
Pixel32 frame_a[W * H], frame_b[W * H];

class Fb : public ::testing::TestWithParam<const char*> {
   protected:
    void SetUp() override {
        setenv(fb_path_variable, GetParam(), 1);
        fake::presents = fake::textures_created = 0;
        // Random colours with junk in the fourth byte, and their complement.
        std::uint32_t seed = 99;
        for (int i = 0; i < W * H; i++) {
            frame_a[i] = seed = seed * 1664525u + 1013904223u;
            frame_b[i] = ~seed & 0xFFFFFF;
        }
    }
    void TearDown() override {
        fb_close();
        unsetenv(fb_path_variable);
        fake::fail_surfaces = fake::fail_locks = fake::textures_created = fake::presents = 0;
        fake::texture_formats.clear();
    }
};

// The display's window: SDL numbers windows from 1 and has no list of them.
SDL_Window* window() {
    for (Uint32 id = 1; id < 1000; id++) {
        SDL_Window* w = SDL_GetWindowFromID(id);
        if (w && std::strcmp(SDL_GetWindowTitle(w), "vorta") == 0) return w;
    }
    return nullptr;
}

// The window's pixels show `frame` integer-scaled, centred, crisp, in every channel bit that
// `bits` per pixel keep, with black bars around it.
void expect_shown(const Pixel32* frame, int bits = 24) {
    SDL_Surface* s = SDL_GetWindowSurface(window());
    ASSERT_NE(s, nullptr) << SDL_GetError();
    const int scale = std::min(s->w / W, s->h / H), x0 = (s->w - W * scale) / 2,
              y0 = (s->h - H * scale) / 2;
    const std::uint32_t keep = bits == 16 ? 0xF8FCF8 : bits == 15 ? 0xF8F8F8 : 0xFFFFFF;
    int bad = 0, bars = 0, first = -1;
    for (int y = 0; y < s->h; y++) {
        for (int x = 0; x < s->w; x++) {
            std::uint32_t v = 0;
            std::memcpy(
                &v,
                static_cast<std::uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel,
                s->format->BytesPerPixel);
            Uint8 r, g, b;
            SDL_GetRGB(v, s->format, &r, &g, &b);
            const std::uint32_t got = r << 16 | g << 8 | b;
            const int px = (x - x0) / scale, py = (y - y0) / scale;
            if (x < x0 || y < y0 || px >= W || py >= H) {
                bars += got != 0;
            } else if ((got ^ frame[py * W + px]) & keep) {
                if (first < 0) first = py * W + px;
                bad++;
            }
        }
    }
    EXPECT_EQ(bars, 0) << "bars are not black";
    EXPECT_EQ(bad, 0) << "first wrong at " << first % W << "," << first / W;
}

// Queues an event for the display's window: a window event `what`, else the Escape key.
void push(Uint32 type, Uint8 what = 0) {
    SDL_Event e{};
    e.type = type;
    e.window.windowID = SDL_GetWindowID(window());  // where key events keep it too
    e.window.event = what;
    if (!what) e.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_PushEvent(&e);
}

TEST_P(Fb, ShowsFramesAndSurvivesRefusalsLostTexturesAndReopening) {
    fb_close();                        // nothing open yet
    EXPECT_EQ(fb_update(nullptr), 1);  // inactive: the null frame would crash if converted
    EXPECT_NE(fb_idle(), 0);           // no display: nothing to draw for
    EXPECT_EQ(fb_present_lead_ns(), 0);
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(fb_open("vorta", W, H), 1) << SDL_GetError();
        EXPECT_EQ(fb_present_lead_ns(), 0);  // nothing presented since opening
        EXPECT_EQ(fb_update(frame_a), 1);
        expect_shown(frame_a);
        EXPECT_GT(fb_present_lead_ns(), 0);
        // A refused lock or a missing window surface drops the frame: 0, the screen unchanged,
        // and the next frame goes through.
        (std::strcmp(GetParam(), "accelerated") == 0 ? fake::fail_locks : fake::fail_surfaces) = 1;
        EXPECT_EQ(fb_update(frame_b), 0);
        expect_shown(frame_a);
        EXPECT_EQ(fb_update(frame_b), 1);
        expect_shown(frame_b);
        // Lost textures are made again before the next lock (the software path has none).
        const int made = fake::textures_created;
        push(round ? SDL_RENDER_TARGETS_RESET : SDL_RENDER_DEVICE_RESET);
        EXPECT_EQ(fb_update(frame_a), 1);
        expect_shown(frame_a);
        EXPECT_EQ(fake::textures_created - made, std::strcmp(GetParam(), "accelerated") == 0);
        fb_close();
        fb_close();
        EXPECT_EQ(window(), nullptr);
    }
}

TEST_P(Fb, InactiveWindowWaitsForEventsShowsNothingAndEscapeTapsCount) {
    ASSERT_EQ(fb_open("vorta", W, H), 1);
    EXPECT_EQ(fb_idle(), 0);  // no focus event yet: active
    EXPECT_EQ(fb_update(frame_a), 1);
    expect_shown(frame_a);
    push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST);
    const Uint64 t0 = SDL_GetTicks64();
    for (int i = 0; i < 5; i++) EXPECT_EQ(fb_update(frame_b), 1);
    EXPECT_EQ(fake::presents, 1);
    // Each pass waits for window events (a tenth of a second when none come) instead of
    // spinning; the first may end early on the focus event itself.
    EXPECT_GE(SDL_GetTicks64() - t0, 4u * 100);
    expect_shown(frame_a);
    // The main loop asks before drawing: while inactive the same wait, and nothing to draw.
    const Uint64 t1 = SDL_GetTicks64();
    for (int i = 0; i < 3; i++) EXPECT_NE(fb_idle(), 0);
    EXPECT_GE(SDL_GetTicks64() - t1, 3u * 100);
    EXPECT_EQ(fake::presents, 1);
    // Focus back: seen before any wait, and the next frame is shown.
    push(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(fb_idle(), 0);
    EXPECT_EQ(fb_update(frame_b), 1);
    expect_shown(frame_b);
    // Hidden: nothing presented (hiding a fullscreen window gives it a new surface, so the
    // count tells, not the pixels).
    const int presents = fake::presents;
    SDL_HideWindow(window());
    EXPECT_NE(fb_idle(), 0);
    EXPECT_EQ(fb_update(frame_a), 1);
    EXPECT_EQ(fake::presents, presents);
    SDL_ShowWindow(window());
    EXPECT_EQ(fb_update(frame_a), 1);
    expect_shown(frame_a);

    // An Escape tap shorter than a frame (down and up in one pump) counts, once.
    EXPECT_EQ(fb_escape_pressed(), 0);
    push(SDL_KEYDOWN);
    push(SDL_KEYUP);
    EXPECT_NE(fb_escape_pressed(), 0);
    EXPECT_EQ(fb_escape_pressed(), 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, Fb, ::testing::Values("software", "accelerated"));

TEST(FbAccelerated, TextureFormatsFallBackAndShowTheColoursOrOpenFails) {
    setenv(fb_path_variable, "accelerated", 1);
    const struct {
        std::vector<std::uint32_t> accepted;
        std::uint32_t chosen;  // 0: the renderer takes none of ours
    } cases[] = {
        {{SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_BGR24}, SDL_PIXELFORMAT_BGR24},
        {{SDL_PIXELFORMAT_BGR555}, SDL_PIXELFORMAT_BGR555},
        {{SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_RGB565}, SDL_PIXELFORMAT_ABGR8888},
        {{SDL_PIXELFORMAT_RGB444}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SDL_GetPixelFormatName(c.chosen));
        fake::texture_formats = c.accepted;
        if (!c.chosen) {
            // A renderer that takes none of our formats: the show is drawn into the window's
            // own pixels instead.
            EXPECT_EQ(fb_open("vorta", W, H), 1);
            EXPECT_EQ(fb_update(frame_a), 1);
            expect_shown(frame_a);
            fb_close();
            continue;
        }
        ASSERT_EQ(fb_open("vorta", W, H), 1) << SDL_GetError();
        EXPECT_EQ(fb_update(frame_a), 1);
        expect_shown(frame_a, SDL_BITSPERPIXEL(c.chosen));
        fb_close();
    }
    fake::texture_formats.clear();
    unsetenv(fb_path_variable);
}

}  // namespace
