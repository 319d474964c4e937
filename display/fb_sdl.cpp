// The display layer on SDL2: a borderless fullscreen-desktop window showing the framebuffer
// integer-scaled with black bars, converted row by row into a locked streaming texture.
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/convert.h"
#include "display/fb.h"
#include "display/fb_seam.h"

// Texture formats in order of preference, deepest first: 32, then 24, then 16 bits per pixel.
// The first one the renderer creates a streaming texture for wins; every renderer takes RGB888
// itself, the rarer ones SDL may convert on unlock. The X (padding) variants come first; the
// alpha variants are drawn with blending off, so their alpha byte is never looked at.
static constexpr Uint32 fb_candidates[] = {
    SDL_PIXELFORMAT_RGB888,   SDL_PIXELFORMAT_BGR888, SDL_PIXELFORMAT_ARGB8888,
    SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_RGB24,  SDL_PIXELFORMAT_BGR24,
    SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_BGR565, SDL_PIXELFORMAT_RGB555,
    SDL_PIXELFORMAT_BGR555,
};

static struct {
    int video;  // the SDL video subsystem was initialised by fb_open
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    Uint32 format;      // SDL pixel format of `texture`
    int width, height;  // framebuffer size, the renderer's logical size
    ConvertFn convert;
    int focus_lost;                  // the window lost input focus and has not regained it
    std::atomic<int> escape_tapped;  // Escape went down since fb_escape_pressed last looked
    int need_restore;     // the renderer reported lost textures; recreate before the next lock
    Uint64 frame_ticks;   // minimum time between presents, in performance-counter ticks
    Uint64 next_present;  // performance counter value before which no present may follow
    // Test seam.
    int seam_restrict;  // 1: only seam_formats count as accepted
    Uint32 seam_formats[16];
    int seam_format_count;
    int seam_fail_locks;
    int locks, presents;
} fb;

// Whether the test seam lets `format` count as accepted (always, outside tests).
static int fb_seam_allows(Uint32 format) {
    if (!fb.seam_restrict) return 1;
    for (int i = 0; i < fb.seam_format_count; i++) {
        if (fb.seam_formats[i] == format) return 1;
    }
    return 0;
}

// The converter for an SDL format. SDL reports its 555 formats as 15 bits per pixel; converters
// are chosen by storage size, so pass bytes per pixel × 8. SDL's masks describe the pixel as one
// little-endian value, the converters' own convention, so they pass unchanged.
static ConvertFn fb_converter_for(Uint32 format) {
    int bpp = 0;
    Uint32 r = 0, g = 0, b = 0, a = 0;
    if (!SDL_PixelFormatEnumToMasks(format, &bpp, &r, &g, &b, &a)) return nullptr;
    return conv_request(SDL_BYTESPERPIXEL(format) * 8, r, g, b);
}

static SDL_Texture* fb_create_texture(Uint32 format) {
    SDL_Texture* t =
        SDL_CreateTexture(fb.renderer, format, SDL_TEXTUREACCESS_STREAMING, fb.width, fb.height);
    if (t) SDL_SetTextureBlendMode(t, SDL_BLENDMODE_NONE);
    return t;
}

// True when this SDL video driver shows nothing on a screen.
static int fb_headless_driver(const char* name) {
    return name && (std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0);
}

// Sees every event as SDL queues it: a tap of Escape shorter than a frame, pressed and released
// within one pump, still counts once (SDL may call this from another thread).
static int SDLCALL fb_watch(void*, SDL_Event* e) {
    if (e->type == SDL_KEYDOWN && e->key.keysym.scancode == SDL_SCANCODE_ESCAPE)
        fb.escape_tapped = 1;
    return 1;
}

// Releases everything that exists, newest first; switches the screen saver back on.
static void fb_release() {
    if (fb.texture) SDL_DestroyTexture(fb.texture);
    fb.texture = nullptr;
    if (fb.renderer) SDL_DestroyRenderer(fb.renderer);
    fb.renderer = nullptr;
    if (fb.window) SDL_DestroyWindow(fb.window);
    fb.window = nullptr;
    if (fb.video) {
        SDL_DelEventWatch(fb_watch, nullptr);
        // Switched on whatever the setting was before fb_open; the old one is not remembered.
        SDL_EnableScreenSaver();
        SDL_ShowCursor(SDL_ENABLE);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        // The last user of SDL shuts it down fully, which also frees its D-Bus connection.
        if (SDL_WasInit(0) == 0) SDL_Quit();
    }
    fb.video = 0;
    fb.convert = nullptr;
    fb.format = 0;
}

int fb_open(const char* title, int width, int height) {
    fb_release();
    fb.width = width;
    fb.height = height;
    fb.focus_lost = 0;
    fb.escape_tapped = 0;
    fb.need_restore = 0;
    fb.locks = fb.presents = 0;
    // Set before the renderer exists: scaling is by whole pixels, never blurred.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    SDL_SetHint(SDL_HINT_RENDER_VSYNC, "1");

    SDL_DisplayMode desktop{};
    SDL_RendererInfo info{};
    const char* driver = nullptr;
    const char* wanted = SDL_getenv("SDL_VIDEODRIVER");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) goto fail;
    fb.video = 1;
    SDL_AddEventWatch(fb_watch, nullptr);
    // Without a display server SDL falls back to a driver that draws into memory, and the show
    // would play unseen. Only a driver asked for by name may be one of those.
    driver = SDL_GetCurrentVideoDriver();
    if ((!wanted || !*wanted) && fb_headless_driver(driver)) goto fail;

    // No mode change: the window covers the desktop at its own size (a fullscreen-desktop window
    // created smaller keeps its size on some X servers) and the renderer scales the picture.
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) goto fail;
    fb.window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED_DISPLAY(0),
                                 SDL_WINDOWPOS_CENTERED_DISPLAY(0), desktop.w, desktop.h,
                                 SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS);
    if (!fb.window) goto fail;
    fb.renderer = SDL_CreateRenderer(fb.window, -1, 0);
    if (!fb.renderer) goto fail;
    // Logical size with integer scaling: square pixels, black bars, centred.
    if (SDL_RenderSetLogicalSize(fb.renderer, width, height) != 0) goto fail;
    if (SDL_RenderSetIntegerScale(fb.renderer, SDL_TRUE) != 0) goto fail;
    if (SDL_GetRendererInfo(fb.renderer, &info) != 0) goto fail;

    for (Uint32 format : fb_candidates) {
        if (!fb_seam_allows(format)) continue;
        ConvertFn fn = fb_converter_for(format);
        if (!fn) continue;
        fb.texture = fb_create_texture(format);
        if (!fb.texture) continue;
        fb.format = format;
        fb.convert = fn;
        break;
    }
    if (!fb.convert) goto fail;

    {
        // The flip waits for the display. Where the renderer does not sync to it (software
        // rendering, virtual X servers), presents are spaced one refresh interval apart so the
        // loop never spins; with sync the spacing is a little shorter and never costs a frame.
        SDL_DisplayMode current{};
        int hz = 60;
        if (SDL_GetCurrentDisplayMode(SDL_GetWindowDisplayIndex(fb.window), &current) == 0 &&
            current.refresh_rate > 0) {
            hz = current.refresh_rate;
        }
        const int vsync = (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
        fb.frame_ticks =
            SDL_GetPerformanceFrequency() * (vsync ? 9 : 10) / (10 * static_cast<Uint64>(hz));
        fb.next_present = 0;
    }
    SDL_ShowCursor(SDL_DISABLE);
    SDL_DisableScreenSaver();
    return 1;

fail:
    fb_release();
    return 0;
}

// Exits the process, closing the display first, as a close request demands.
[[noreturn]] static void fb_quit() {
    fb_close();
    std::exit(0);
}

// Drains SDL's event queue: close requests end the process, focus and lost textures are noted.
static void fb_pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
            case SDL_QUIT:  // also what SDL makes of SIGINT and SIGTERM
                fb_quit();
            case SDL_WINDOWEVENT:
                if (e.window.windowID != SDL_GetWindowID(fb.window)) break;
                if (e.window.event == SDL_WINDOWEVENT_CLOSE) fb_quit();
                if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) fb.focus_lost = 1;
                if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) fb.focus_lost = 0;
                break;
            case SDL_RENDER_TARGETS_RESET:
            case SDL_RENDER_DEVICE_RESET:
                fb.need_restore = 1;
                break;
            default:
                break;
        }
    }
}

// Active while the window is shown, not minimised and has not lost focus. A window that never
// hears about focus (X without a window manager sends none) counts as active once shown.
static int fb_active() {
    if (!fb.convert) return 0;
    const Uint32 flags = SDL_GetWindowFlags(fb.window);
    if (!(flags & SDL_WINDOW_SHOWN) || (flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)))
        return 0;
    return !fb.focus_lost;
}

// Brings back a texture the renderer lost, in the same format. 1 when there is one to lock.
static int fb_restore() {
    if (fb.texture) SDL_DestroyTexture(fb.texture);
    fb.texture = fb_create_texture(fb.format);
    fb.need_restore = fb.texture == nullptr;
    return fb.texture != nullptr;
}

int fb_update(const Pixel32* pixels) {
    if (fb.video) fb_pump();
    if (!fb_active()) {
        // Inactive, or no display at all: the frame is dropped, the caller's loop runs on.
        SDL_Delay(1);
        return 1;
    }
    if (fb.need_restore && !fb_restore()) return 0;

    void* locked = nullptr;
    int pitch = 0;
    int rc = SDL_LockTexture(fb.texture, nullptr, &locked, &pitch);
    if (rc == 0 && fb.seam_fail_locks > 0) {  // a test stands in for a refused lock
        fb.seam_fail_locks--;
        SDL_UnlockTexture(fb.texture);
        rc = -1;
    }
    if (rc != 0) return 0;
    fb.locks++;
    // The pitch comes from each lock and may exceed a converted row.
    std::uint8_t* dst = static_cast<std::uint8_t*>(locked);
    for (int y = 0; y < fb.height; y++) {
        fb.convert(pixels + static_cast<std::size_t>(y) * fb.width,
                   dst + static_cast<std::ptrdiff_t>(y) * pitch,
                   static_cast<std::uint32_t>(fb.width));
    }
    SDL_UnlockTexture(fb.texture);

    SDL_SetRenderDrawColor(fb.renderer, 0, 0, 0, 255);
    SDL_RenderClear(fb.renderer);  // the whole window: the bars stay black
    SDL_RenderCopy(fb.renderer, fb.texture, nullptr, nullptr);
    SDL_RenderPresent(fb.renderer);
    fb.presents++;

    const Uint64 now = SDL_GetPerformanceCounter();
    if (now < fb.next_present) {
        const Uint64 wait_ms = (fb.next_present - now) * 1000 / SDL_GetPerformanceFrequency();
        SDL_Delay(static_cast<Uint32>(wait_ms));
        fb.next_present += fb.frame_ticks;
    } else {
        // Late (or the first frame): start the spacing again from here rather than catching up.
        fb.next_present = now + fb.frame_ticks;
    }
    SDL_Delay(0);  // yield the rest of the time slice
    return 1;
}

void fb_close() {
    fb_release();
}

std::int64_t fb_present_lead_ns() {
    // For now one refresh interval: the wait for the next refresh plus half a frame on screen,
    // roughly, before anything has been measured.
    if (fb.presents == 0) return 0;
    return static_cast<std::int64_t>(fb.frame_ticks * 1000000000ull /
                                     SDL_GetPerformanceFrequency());
}

int fb_escape_pressed() {
    // Updates the key state without taking events off the queue that fb_update handles.
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
    SDL_PumpEvents();
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return (fb.escape_tapped.exchange(0) | keys[SDL_SCANCODE_ESCAPE]) != 0;
}

void fb_message_box(const char* text) {
    // stderr always: with no display it is the only report.
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    // A headless driver asked for by name means nobody could dismiss a box (tests, servers).
    if (fb_headless_driver(SDL_getenv("SDL_VIDEODRIVER"))) return;
    SDL_ShowSimpleMessageBox(0, "", text, nullptr);
}

// Test seam.

void fb_seam_accept_formats(const std::uint32_t* formats, int count) {
    fb.seam_restrict = count >= 0;
    fb.seam_format_count = 0;
    for (int i = 0; i < count && i < 16; i++) fb.seam_formats[fb.seam_format_count++] = formats[i];
}

void fb_seam_fail_locks(int count) {
    fb.seam_fail_locks = count;
}

std::uint32_t fb_seam_format() {
    return fb.format;
}

SDL_Window* fb_seam_window() {
    return fb.window;
}

int fb_seam_locks() {
    return fb.locks;
}

int fb_seam_presents() {
    return fb.presents;
}

int fb_seam_read_back(std::uint32_t* out) {
    if (!fb.texture) return 0;
    int ow = 0, oh = 0;
    if (SDL_GetRendererOutputSize(fb.renderer, &ow, &oh) != 0) return 0;
    SDL_SetRenderDrawColor(fb.renderer, 0, 0, 0, 255);
    SDL_RenderClear(fb.renderer);
    if (SDL_RenderCopy(fb.renderer, fb.texture, nullptr, nullptr) != 0) return 0;
    // With a logical size, a null rectangle reads the scaled viewport in output pixels.
    SDL_Rect vp{};
    float sx = 0, sy = 0;
    SDL_RenderGetViewport(fb.renderer, &vp);
    SDL_RenderGetScale(fb.renderer, &sx, &sy);
    const int scale = static_cast<int>(sx);
    if (scale < 1 || static_cast<int>(sy) != scale) return 0;
    const int rw = fb.width * scale, rh = fb.height * scale;
    if (rw > ow || rh > oh) return 0;
    std::vector<std::uint32_t> buf(static_cast<std::size_t>(ow) * oh);
    if (SDL_RenderReadPixels(fb.renderer, nullptr, SDL_PIXELFORMAT_RGB888, buf.data(), rw * 4) != 0)
        return 0;
    for (int y = 0; y < fb.height; y++) {
        for (int x = 0; x < fb.width; x++) {
            out[y * fb.width + x] =
                buf[static_cast<std::size_t>(y * scale + scale / 2) * rw + x * scale + scale / 2] &
                0xFFFFFF;
        }
    }
    return 1;
}
