// The DirectDraw display layer against the fake "ddraw.dll" beside this program: the fallbacks of
// fb_open, the frame path, the inactive path, and what fb_close releases, as recorded call logs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/convert.h"
#include "display/fb.h"
#include "tests/display/ddraw/fake_ddraw.h"

namespace {

constexpr int width = 320;
constexpr std::uint32_t pf_rgb = 0x40;       // DDPF_RGB
constexpr std::uint32_t pf_palette8 = 0x20;  // DDPF_PALETTEINDEXED8
constexpr int height = 240;

// The calls of a successful fb_open up to the display mode, and from the chain on.
const std::string created =
    "DirectDrawCreate guid=none outer=none\n"
    "ddraw.SetCooperativeLevel window=given flags=0x11\n";
const std::string chain2 = "ddraw.CreateSurface size=ok flags=0x21 caps=0x4218 back=2 outer=none\n";
const std::string chain2_refused =
    "ddraw.CreateSurface size=ok flags=0x21 caps=0x4218 back=2 outer=none -> refused\n";
const std::string chain1 = "ddraw.CreateSurface size=ok flags=0x21 caps=0x4218 back=1 outer=none\n";
const std::string chain1_refused =
    "ddraw.CreateSurface size=ok flags=0x21 caps=0x4218 back=1 outer=none -> refused\n";
const std::string lone = "ddraw.CreateSurface size=ok flags=0x1 caps=0x4200 back=0 outer=none\n";
const std::string attach = "primary.GetAttachedSurface caps=0x4\n";
const std::string format = "primary.GetPixelFormat size=ok\n";
const std::string mode32 = "ddraw.SetDisplayMode 320x240x32\n";
const std::string refused32 = "ddraw.SetDisplayMode 320x240x32 -> refused\n";
const std::string mode24 = "ddraw.SetDisplayMode 320x240x24\n";
const std::string refused24 = "ddraw.SetDisplayMode 320x240x24 -> refused\n";
const std::string mode16 = "ddraw.SetDisplayMode 320x240x16\n";
const std::string refused16 = "ddraw.SetDisplayMode 320x240x16 -> refused\n";
// fb_close with every object in place: the chain, then the mode, the level and the object.
const std::string close_all =
    "primary.Release\n"
    "ddraw.RestoreDisplayMode\n"
    "ddraw.SetCooperativeLevel window=given flags=0x8\n"
    "ddraw.Release\n";
const std::string close_ddraw_only =
    "ddraw.RestoreDisplayMode\n"
    "ddraw.SetCooperativeLevel window=given flags=0x8\n"
    "ddraw.Release\n";
// One presented frame.
const std::string frame =
    "primary.Restore\n"
    "back.Lock rect=none size=ok flags=0x1 event=none\n"
    "back.Unlock locked address\n"
    "primary.Flip target=none flags=0x1\n";

std::string log_now() {
    return fake_ddraw_log();
}

BOOL saver_active() {
    BOOL active = 2;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    return active;
}

void set_saver(BOOL active) {
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, active, nullptr, 0);
}

// Hands the layer the activation the platform gives a fullscreen window, through its own pump.
void activate(BOOL active) {
    PostMessageA(static_cast<HWND>(fake_ddraw_window()), WM_ACTIVATEAPP, active, 0);
}

// A picture whose every pixel differs from its neighbours in all three channels.
std::vector<Pixel32> pattern() {
    std::vector<Pixel32> p(width * height);
    for (int i = 0; i < width * height; i++) {
        p[i] = static_cast<Pixel32>((i * 7919u) & 0xFFFFFFu) | 0x5A000000u;
    }
    return p;
}

class FbDdraw : public ::testing::Test {
   protected:
    void SetUp() override {
        saver_before_ = saver_active();
        set_saver(TRUE);
    }
    void TearDown() override {
        fb_close();
        set_saver(saver_before_);
    }
    void reset(const FakeDDrawConfig& c) { fake_ddraw_reset(&c); }

   private:
    BOOL saver_before_ = TRUE;
};

struct OpenCase {
    const char* name;
    FakeDDrawConfig config;
    int opened;
    int mode_bits;          // the mode left set while open (0: none)
    std::string open_log;   // the calls of fb_open
    std::string close_log;  // the calls of fb_close that follows
    int bytes_per_pixel;    // of the converter chosen, 0 when none
    ConvertFn expected_convert;
};

FakeDDrawConfig with_format(std::uint32_t flags, std::uint32_t bits, std::uint32_t r,
                            std::uint32_t g, std::uint32_t b) {
    FakeDDrawConfig c{};
    c.override_format = 1;
    c.format_flags = flags;
    c.format_bits = bits;
    c.format_masks[0] = r;
    c.format_masks[1] = g;
    c.format_masks[2] = b;
    return c;
}

FakeDDrawConfig refusing_bits(int a, int b, int c) {
    FakeDDrawConfig config{};
    config.refused_bits[0] = a;
    config.refused_bits[1] = b;
    config.refused_bits[2] = c;
    return config;
}

FakeDDrawConfig with_back_buffers(int n) {
    FakeDDrawConfig c{};
    c.max_back_buffers = n;
    return c;
}

std::vector<OpenCase> open_cases() {
    FakeDDrawConfig refuse_create{};
    refuse_create.refuse_create = 1;
    FakeDDrawConfig refuse_level{};
    refuse_level.refuse_cooperative = 1;
    FakeDDrawConfig no_surface{};
    no_surface.refuse_every_surface = 1;
    const std::string up_to_mode32 = created + mode32;
    return {
        {"everything accepted",
         {},
         1,
         32,
         up_to_mode32 + chain2 + attach + format,
         close_all,
         4,
         conv_32_rgb888},
        {"32 bits refused: 24", refusing_bits(32, 0, 0), 1, 24,
         created + refused32 + mode24 + chain2 + attach + format, close_all, 3, conv_24_rgb888},
        {"32 and 24 refused: 16", refusing_bits(32, 24, 0), 1, 16,
         created + refused32 + refused24 + mode16 + chain2 + attach + format, close_all, 2,
         conv_16_rgb565},
        {"every depth refused", refusing_bits(32, 24, 16), 0, 0,
         created + refused32 + refused24 + refused16, close_ddraw_only, 0, nullptr},
        {"two back buffers refused: one", with_back_buffers(1), 1, 32,
         up_to_mode32 + chain2_refused + chain1 + attach + format, close_all, 4, conv_32_rgb888},
        {"lone primary", with_back_buffers(-1), 0, 32,
         up_to_mode32 + chain2_refused + chain1_refused + lone +
             "primary.GetAttachedSurface caps=0x4 -> refused\n",
         close_all, 0, nullptr},
        {"no surface at all", no_surface, 0, 32,
         up_to_mode32 + chain2_refused + chain1_refused +
             "ddraw.CreateSurface size=ok flags=0x1 caps=0x4200 back=0 outer=none -> refused\n",
         close_ddraw_only, 0, nullptr},
        {"palettised format", with_format(pf_palette8, 8, 0, 0, 0), 0, 32,
         up_to_mode32 + chain2 + attach + format, close_all, 0, nullptr},
        {"RGB flag missing", with_format(0, 32, 0xFF0000, 0xFF00, 0xFF), 0, 32,
         up_to_mode32 + chain2 + attach + format, close_all, 0, nullptr},
        {"masks in an unknown order", with_format(pf_rgb, 32, 0xFF00, 0xFF0000, 0xFF), 0, 32,
         up_to_mode32 + chain2 + attach + format, close_all, 0, nullptr},
        {"555 masks at 15 bits", with_format(pf_rgb, 15, 0x7C00, 0x3E0, 0x1F), 0, 32,
         up_to_mode32 + chain2 + attach + format, close_all, 0, nullptr},
        {"blue-first 16 bits", with_format(pf_rgb, 16, 0x1F, 0x3E0, 0x7C00), 1, 32,
         up_to_mode32 + chain2 + attach + format, close_all, 2, conv_16_bgr555},
        {"DirectDrawCreate refused", refuse_create, 0, 0,
         "DirectDrawCreate guid=none outer=none"
         " -> refused\n",
         "", 0, nullptr},
        {"exclusive level refused", refuse_level, 0, 0,
         "DirectDrawCreate guid=none outer=none\n"
         "ddraw.SetCooperativeLevel window=given flags=0x11 -> refused\n",
         close_ddraw_only, 0, nullptr},
    };
}

// Every way fb_open can end, then fb_close: what was asked of the display in which order, the
// mode and converter chosen, a frame drawn into the back buffer row by row at the locked pitch
// (or no surface touched after a failure), and every object released again.
TEST_F(FbDdraw, OpenFallbacksFrameAndClose) {
    const std::vector<Pixel32> picture = pattern();
    for (const OpenCase& c : open_cases()) {
        SCOPED_TRACE(c.name);
        FakeDDrawConfig config = c.config;
        config.pitch = 1536;  // wider than any converted row
        reset(config);

        ASSERT_EQ(fb_open("vorta-test", width, height), c.opened);
        EXPECT_EQ(log_now(), c.open_log);
        EXPECT_EQ(fake_ddraw_mode_bits(), c.mode_bits);
        EXPECT_EQ(saver_active(), c.opened ? FALSE : TRUE)
            << "screen saver held off only when open";

        activate(TRUE);
        EXPECT_EQ(fb_update(picture.data()), 1);
        if (c.opened) {
            EXPECT_EQ(log_now(), c.open_log + frame);
            // Each row through the chosen converter at its pitch; the rest of each row untouched.
            const std::uint8_t* mem = fake_ddraw_back_buffer();
            std::vector<std::uint8_t> want(width * c.bytes_per_pixel);
            for (int y = 0; y < height; y++) {
                c.expected_convert(picture.data() + y * width, want.data(), width);
                const std::uint8_t* row = mem + y * config.pitch;
                ASSERT_EQ(0, std::memcmp(row, want.data(), want.size())) << "row " << y;
                for (int x = static_cast<int>(want.size()); x < config.pitch; x++) {
                    ASSERT_EQ(row[x], 0xCD) << "row " << y << " byte " << x;
                }
            }
        } else {
            // No surface, converter or flip after a failed open: the frame is dropped.
            EXPECT_EQ(log_now(), c.open_log);
        }

        fb_close();
        EXPECT_EQ(log_now(), c.open_log + (c.opened ? frame : "") + c.close_log);
        EXPECT_EQ(fake_ddraw_live_objects(), 0);
        EXPECT_EQ(fake_ddraw_mode_bits(), 0) << "desktop mode back";
        EXPECT_EQ(saver_active(), TRUE);
        // A second close finds nothing left to release.
        const std::string before = log_now();
        fb_close();
        EXPECT_EQ(log_now(), before);
    }
}

// Refused locks drop the frame without a flip; the next frame restores the chain and tries again.
TEST_F(FbDdraw, FailedLockDropsOnlyThatFrame) {
    FakeDDrawConfig config{};
    config.failed_locks = 2;
    reset(config);
    ASSERT_EQ(fb_open("vorta-test", width, height), 1);
    activate(TRUE);
    const std::vector<Pixel32> picture = pattern();
    const std::string opened = log_now();
    const std::string refused_lock =
        "primary.Restore\nback.Lock rect=none size=ok flags=0x1 event=none -> refused\n";
    EXPECT_EQ(fb_update(picture.data()), 0);
    EXPECT_EQ(fb_update(picture.data()), 0);
    EXPECT_EQ(fb_update(picture.data()), 1);
    EXPECT_EQ(log_now(), opened + refused_lock + refused_lock + frame);
}

// While the application is not the active one, frames are dropped without touching the display
// but messages are still handled: activation arriving through the pump resumes drawing.
TEST_F(FbDdraw, InactiveDropsFramesAndStillPumps) {
    reset(FakeDDrawConfig{});
    ASSERT_EQ(fb_open("vorta-test", width, height), 1);
    const std::vector<Pixel32> picture = pattern();
    const std::string opened = log_now();

    // Not active before the platform says so.
    const DWORD start = GetTickCount();
    for (int i = 0; i < 5; i++) EXPECT_EQ(fb_update(picture.data()), 1);
    EXPECT_GE(GetTickCount() - start, 4u) << "each dropped frame sleeps";
    EXPECT_NE(fb_idle(), 0);  // the main loop asks first: nothing to draw
    EXPECT_EQ(log_now(), opened);

    activate(TRUE);
    EXPECT_EQ(fb_idle(), 0);  // the activation is pumped before any sleep
    EXPECT_EQ(fb_update(picture.data()), 1);
    EXPECT_EQ(log_now(), opened + frame);

    activate(FALSE);
    EXPECT_EQ(fb_update(picture.data()), 1);
    EXPECT_NE(fb_idle(), 0);
    EXPECT_EQ(fb_update(picture.data()), 1);
    EXPECT_EQ(log_now(), opened + frame);

    activate(TRUE);
    EXPECT_EQ(fb_idle(), 0);
    EXPECT_EQ(fb_update(picture.data()), 1);
    EXPECT_EQ(log_now(), opened + frame + frame);
}

// fb_close puts back the screen-saver setting the user had, switched off or on, whether the open
// got far or failed at once.
TEST_F(FbDdraw, ScreenSaverSettingRestoredAsItWas) {
    FakeDDrawConfig refuse_create{};
    refuse_create.refuse_create = 1;
    for (BOOL before : {FALSE, TRUE}) {
        for (const FakeDDrawConfig& config : {FakeDDrawConfig{}, refuse_create}) {
            SCOPED_TRACE(testing::Message()
                         << "saver " << before << " create refused " << config.refuse_create);
            reset(config);
            set_saver(before);
            fb_open("vorta-test", width, height);
            EXPECT_EQ(saver_active(), config.refuse_create ? before : FALSE);
            fb_close();
            EXPECT_EQ(saver_active(), before);
        }
    }
}

// A close request ends the process with status 0 from inside the pump, after the display was
// closed and with the exit handlers run (the program stops its sound in one of them).
TEST_F(FbDdraw, CloseRequestClosesDisplayAndExitsZero) {
    EXPECT_EXIT(
        {
            reset(FakeDDrawConfig{});
            if (fb_open("vorta-test", width, height) != 1) std::_Exit(3);
            // The log on one line: the expectation below is a one-line pattern.
            std::atexit([] {
                std::string calls = fake_ddraw_log();
                for (char& ch : calls) ch = ch == '\n' ? ';' : ch;
                std::fprintf(stderr, "exit handler ran; live %d; log: %s\n",
                             fake_ddraw_live_objects(), calls.c_str());
                std::fflush(stderr);
            });
            PostMessageA(static_cast<HWND>(fake_ddraw_window()), WM_CLOSE, 0, 0);
            const std::vector<Pixel32> picture = pattern();
            fb_update(picture.data());
            std::_Exit(4);  // not reached: the close request ends the process
        },
        ::testing::ExitedWithCode(0),
        "exit handler ran; live 0; log: .*;primary.Release;ddraw.RestoreDisplayMode;"
        "ddraw.SetCooperativeLevel window=given flags=0x8;ddraw.Release;");
}

}  // namespace
