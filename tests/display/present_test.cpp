// The display's pure decisions: texture format fallback, the choice of present path, the
// whole-number layout and scaling blit in every pixel format, and the present-lead estimate.
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "display/fb_format.h"
#include "display/fb_lead.h"
#include "display/fb_path.h"
#include "display/fb_scale.h"

namespace {

struct Accepting {
    std::vector<std::uint32_t> formats;
    std::vector<std::uint32_t> asked;
};

int accepts(std::uint32_t format, void* context) {
    auto* a = static_cast<Accepting*>(context);
    a->asked.push_back(format);
    for (auto f : a->formats) {
        if (f == format) return 1;
    }
    return 0;
}

TEST(PickFormat, FallsBackFrom32To24To16AndNeverPastTheChoice) {
    const struct {
        std::vector<std::uint32_t> accepted;
        std::uint32_t chosen;  // 0: none
    } cases[] = {
        {{SDL_PIXELFORMAT_RGB888, SDL_PIXELFORMAT_RGB565}, SDL_PIXELFORMAT_RGB888},
        {{SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_BGR24, SDL_PIXELFORMAT_RGB24},
         SDL_PIXELFORMAT_RGB24},
        {{SDL_PIXELFORMAT_BGR555, SDL_PIXELFORMAT_BGR24}, SDL_PIXELFORMAT_BGR24},
        {{SDL_PIXELFORMAT_BGR555, SDL_PIXELFORMAT_RGB565}, SDL_PIXELFORMAT_RGB565},
        {{SDL_PIXELFORMAT_BGR555}, SDL_PIXELFORMAT_BGR555},
        {{SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_RGB24}, SDL_PIXELFORMAT_ABGR8888},
        // Formats without a converter are never chosen, accepted or not.
        {{SDL_PIXELFORMAT_RGB444, SDL_PIXELFORMAT_RGB332, SDL_PIXELFORMAT_YV12}, 0},
        {{}, 0},
    };
    for (const auto& c : cases) {
        Accepting a{c.accepted, {}};
        EXPECT_EQ(fb_pick_format(accepts, &a), c.chosen) << SDL_GetPixelFormatName(c.chosen);
        // A renderer keeps what it made for the chosen format: nothing is asked after it.
        if (c.chosen) {
            EXPECT_EQ(a.asked.back(), c.chosen);
        }
        for (auto f : a.asked) EXPECT_NE(fb_converter_for(f), nullptr);
    }
}

TEST(ChoosePath, NoRenderNodeOrAHeadlessDriverMeansSoftwareUnlessForced) {
    const struct {
        const char* forced;
        const char* driver;
        int render_node;
        FbPath path;
        int bad;
    } cases[] = {
        {nullptr, "x11", 0, FbPath::software, 0},
        {nullptr, "x11", 1, FbPath::accelerated, 0},
        {"", "wayland", 1, FbPath::accelerated, 0},
        {nullptr, "dummy", 1, FbPath::software, 0},
        {nullptr, "offscreen", 1, FbPath::software, 0},
        {"software", "x11", 1, FbPath::software, 0},
        {"accelerated", "x11", 0, FbPath::accelerated, 0},
        {"accelerated", "dummy", 0, FbPath::accelerated, 0},
        {"gpu", "x11", 0, FbPath::software, 1},
        {"Software", "x11", 1, FbPath::accelerated, 1},
    };
    for (const auto& c : cases) {
        int bad = -1;
        EXPECT_EQ(fb_choose_path(c.forced, c.driver, c.render_node, &bad), c.path)
            << (c.forced ? c.forced : "(unset)") << " " << c.driver << " " << c.render_node;
        EXPECT_EQ(bad, c.bad);
    }
    EXPECT_TRUE(fb_path_forced_accelerated("accelerated"));
    EXPECT_FALSE(fb_path_forced_accelerated(nullptr));
    EXPECT_FALSE(fb_path_forced_accelerated("software"));
}

TEST(ChoosePath, RecognisesSoftwareRasterisersAndRenderNodes) {
    const struct {
        const char* renderer;
        int software;
    } cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", 1},
        {"softpipe", 1},
        {"Mesa DRI swrast", 1},
        {"Software Rasterizer", 1},
        {nullptr, 1},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", 0},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0)", 0},
        {"NVIDIA GeForce GTX 1060/PCIe/SSE2", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fb_gl_is_software(c.renderer), c.software) << (c.renderer ? c.renderer : "null");

    char dir[] = "/tmp/vorta_dri_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string card = std::string(dir) + "/card0", node = std::string(dir) + "/renderD128";
    std::ofstream(card).put('x');
    EXPECT_EQ(fb_render_node_present(dir), 0);  // a display controller alone renders nothing
    std::ofstream(node).put('x');
    EXPECT_EQ(fb_render_node_present(dir), 1);
    EXPECT_EQ(fb_render_node_present("/nonexistent/dri"), 0);
    unlink(node.c_str());
    unlink(card.c_str());
    rmdir(dir);
}

TEST(Layout, LargestWholeScaleCentredOrTheMiddleOfAPictureThatDoesNotFit) {
    const struct {
        int out_w, out_h;
        FbLayout want;
    } cases[] = {
        {1280, 1024, {4, 0, 32, 0, 0, 320, 240}}, {1920, 1080, {4, 320, 60, 0, 0, 320, 240}},
        {1024, 768, {3, 32, 24, 0, 0, 320, 240}}, {320, 240, {1, 0, 0, 0, 0, 320, 240}},
        {641, 481, {2, 0, 0, 0, 0, 320, 240}},    {3840, 2160, {9, 480, 0, 0, 0, 320, 240}},
        {200, 100, {1, 0, 0, 60, 70, 200, 100}},  {400, 100, {1, 40, 0, 0, 70, 320, 100}},
    };
    for (const auto& c : cases) {
        const FbLayout l = fb_layout(c.out_w, c.out_h, 320, 240);
        const FbLayout& w = c.want;
        EXPECT_TRUE(l.scale == w.scale && l.dst_x == w.dst_x && l.dst_y == w.dst_y &&
                    l.src_x == w.src_x && l.src_y == w.src_y && l.src_w == w.src_w &&
                    l.src_h == w.src_h)
            << c.out_w << "x" << c.out_h << ": scale " << l.scale << " at " << l.dst_x << ","
            << l.dst_y << " source " << l.src_x << "," << l.src_y << " " << l.src_w << "x"
            << l.src_h;
    }
}

// Every pixel of an out_w × out_h surface of `format` after a blit of `src`: the picture's
// blocks carry their source pixel in every bit the format keeps, and the bars are untouched.
void check_blit(std::uint32_t format, int out_w, int out_h, const Pixel32* src) {
    constexpr int W = 320, H = 240;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, out_w, out_h, 0, format);
    ASSERT_NE(s, nullptr) << SDL_GetError();
    std::memset(s->pixels, 0x5A, static_cast<std::size_t>(s->pitch) * out_h);
    const FbLayout l = fb_layout(out_w, out_h, W, H);
    const int bpp = s->format->BytesPerPixel;
    fb_blit_scaled(src, W, l, fb_converter_for(format), bpp, s->pixels, s->pitch);
    const int bits = SDL_BITSPERPIXEL(format);
    const std::uint32_t keep = bits == 16 ? 0xF8FCF8 : bits == 15 ? 0xF8F8F8 : 0xFFFFFF;
    int bad = 0, bars = 0;
    for (int y = 0; y < out_h; y++) {
        for (int x = 0; x < out_w; x++) {
            const std::uint8_t* p = static_cast<std::uint8_t*>(s->pixels) + y * s->pitch + x * bpp;
            const int px = x - l.dst_x, py = y - l.dst_y;
            const bool inside =
                px >= 0 && py >= 0 && px < l.src_w * l.scale && py < l.src_h * l.scale;
            if (!inside) {
                for (int k = 0; k < bpp; k++) bars += p[k] != 0x5A;
                continue;
            }
            std::uint32_t v = 0;
            std::memcpy(&v, p, bpp);
            Uint8 r, g, b;
            SDL_GetRGB(v, s->format, &r, &g, &b);
            const std::uint32_t got = r << 16 | g << 8 | b;
            const Pixel32 want = src[(l.src_y + py / l.scale) * W + l.src_x + px / l.scale];
            if ((got ^ want) & keep) {
                if (bad++ == 0)
                    ADD_FAILURE() << SDL_GetPixelFormatName(format) << " " << out_w << "x" << out_h
                                  << " at " << x << "," << y << std::hex << ": want "
                                  << (want & 0xFFFFFF) << " got " << got;
            }
        }
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(bars, 0) << "the blit wrote outside the picture";
    SDL_FreeSurface(s);
}

TEST(Blit, EveryFormatEveryScaleShowsEachPixelAsAUniformBlock) {
    static Pixel32 src[320 * 240];
    // Random colours with junk in the fourth byte: a red/blue swap, a mirror or a shifted block
    // shows.
    std::uint32_t seed = 99;
    for (auto& p : src) p = seed = seed * 1664525u + 1013904223u;
    for (std::uint32_t f :
         {SDL_PIXELFORMAT_RGB888, SDL_PIXELFORMAT_BGR888, SDL_PIXELFORMAT_ARGB8888,
          SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_RGB24, SDL_PIXELFORMAT_BGR24,
          SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_BGR565, SDL_PIXELFORMAT_RGB555,
          SDL_PIXELFORMAT_BGR555}) {
        for (auto [w, h] : {std::pair{1280, 1024}, {963, 721}, {320, 240}, {250, 300}})
            check_blit(f, w, h, src);
    }
}

TEST(Lead, MedianQueryToScreenPlusHalfTheTimeShown) {
    constexpr std::int64_t ms = 1000000, frame = 16666667;
    FbLead lead;
    fb_lead_reset(lead, frame);
    EXPECT_EQ(fb_lead_estimate(lead), 0);  // nothing seen yet

    // One frame: its query-to-screen time and half the nominal interval.
    std::int64_t t = 1000 * ms;
    fb_lead_seen(lead, t - 4 * ms, t);
    EXPECT_EQ(fb_lead_estimate(lead), 4 * ms + frame / 2);

    // Frames 20 ms apart, seen 5 ms after their query, one delayed 300 ms by load, then a
    // pause of a second (an inactive window): neither moves the estimate.
    for (int i = 0; i < 20; i++) {
        t += 20 * ms;
        fb_lead_seen(lead, t - 5 * ms, t);
    }
    EXPECT_EQ(fb_lead_estimate(lead), 5 * ms + 10 * ms);
    fb_lead_seen(lead, t, t + 300 * ms);
    t += 1300 * ms;
    fb_lead_seen(lead, t - 5 * ms, t);
    EXPECT_EQ(fb_lead_estimate(lead), 5 * ms + 10 * ms);

    // The median follows a lasting change once it fills half the window, not before.
    for (int i = 0; i < FbLead::n / 2; i++) {
        t += 20 * ms;
        fb_lead_seen(lead, t - 2 * ms, t);
    }
    EXPECT_EQ(fb_lead_estimate(lead), 5 * ms + 10 * ms);
    t += 20 * ms;
    fb_lead_seen(lead, t - 2 * ms, t);
    EXPECT_EQ(fb_lead_estimate(lead), 2 * ms + 10 * ms);
    // Presents paced by a 100 Hz display: half of 10 ms on screen.
    for (int i = 0; i < 100; i++) {
        t += 10 * ms;
        fb_lead_seen(lead, t - 2 * ms, t);
    }
    EXPECT_EQ(fb_lead_estimate(lead), 2 * ms + 5 * ms);
}

}  // namespace
