// The display layer on SDL2: a borderless fullscreen-desktop window showing the framebuffer
// integer-scaled with black bars. With a GPU, a streaming texture drawn by the accelerated
// renderer; without one, the processor converts and scales straight into the window's pixels.
#include <SDL.h>
#include <SDL_syswm.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/box_guard.h"
#include "display/convert.h"
#include "display/fb.h"
#include "display/fb_format.h"
#include "display/fb_lead.h"
#include "display/fb_path.h"
#include "display/fb_scale.h"

// How long a pass waits for window events while nothing is shown. The loop then only has to
// keep reading the position, so that the marks arrive in order and the end of the song is seen;
// an event that brings the window back ends the wait at once, so a long wait costs nothing on
// return and spares the idle loop five of every six wake-ups a 60 Hz wait would take.
constexpr int fb_idle_wait_ms = 100;

static struct {
    int video;  // the SDL video subsystem was initialised by fb_open
    FbPath path;
    SDL_Window* window;
    int width, height;  // framebuffer size
    ConvertFn convert;  // non-null once open: the layer can present
    // Accelerated path.
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    Uint32 format;     // SDL pixel format of `texture`
    int need_restore;  // the renderer reported lost textures; recreate before the next lock
    // Software path: the window surface as last laid out, to notice when SDL replaces it.
    SDL_Surface* surface;
    void* surface_pixels;
    int surface_w, surface_h;
    Uint32 surface_format;
    FbLayout layout;
    SDL_Rect picture;  // the picture's rectangle in the window
    int full_update;   // the whole window must go to the screen again (bars included)

    int focus_lost;                  // the window lost input focus and has not regained it
    std::atomic<int> escape_tapped;  // Escape went down since fb_escape_pressed last looked
    Uint64 frame_ticks;              // minimum time between presents, in performance-counter ticks
    Uint64 next_present;             // performance counter value before which no present may follow
    std::int64_t query;  // first fb_present_lead_ns call since the last fb_update; 0: none
    FbLead lead;
} fb;

static std::int64_t fb_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

// Releases the window and what draws into it, newest first.
static void fb_release_window() {
    if (fb.texture) SDL_DestroyTexture(fb.texture);
    fb.texture = nullptr;
    if (fb.renderer) SDL_DestroyRenderer(fb.renderer);
    fb.renderer = nullptr;
    if (fb.window) SDL_DestroyWindow(fb.window);  // frees the window surface with it
    fb.window = nullptr;
    fb.surface = nullptr;
    fb.convert = nullptr;
    fb.format = 0;
}

// Releases everything that exists; switches the screen saver back on.
static void fb_release() {
    fb_release_window();
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
    fb_lead_reset(fb.lead, 0);  // no estimate from a display that is gone
    fb.query = 0;
}

#if defined(SDL_VIDEO_DRIVER_X11)
// Marks the X window, not yet mapped, as fullscreen for the window manager: the window state it
// reads when the window is first mapped. 0 when the window is not an X window.
static int fb_x11_state_fullscreen(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
    Display* display = info.info.x11.display;
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    Atom fullscreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(display, info.info.x11.window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&fullscreen), 1);
    return 1;
}
#else
static int fb_x11_state_fullscreen(SDL_Window*) {
    return 0;
}
#endif

// No mode change: the window covers the desktop at its own size (a fullscreen-desktop window
// created smaller keeps its size on some X servers) and the picture is scaled to it.
//
// With `own_state` on X, the window carries the fullscreen state from its first mapping instead
// of being switched by SDL once shown: SDL 2.26 then waits up to 100 ms for the window to change
// size, and a window that already covers the screen never does, so every start lost 100 ms. The
// window manager sees the same request either way. SDL does not know the window as fullscreen,
// which changes nothing here: there is no display mode to restore and a desktop-sized fullscreen
// window is not minimised on focus loss. Only the software path asks for this, because SDL's GL
// renderer may create the X window anew and the state would be lost with it.
static int fb_create_window(const char* title, int own_state) {
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return 0;
    const int x = SDL_WINDOWPOS_CENTERED_DISPLAY(0), y = SDL_WINDOWPOS_CENTERED_DISPLAY(0);
    if (own_state) {
        fb.window = SDL_CreateWindow(title, x, y, desktop.w, desktop.h,
                                     SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
        if (fb.window && fb_x11_state_fullscreen(fb.window)) {
            SDL_ShowWindow(fb.window);
            return 1;
        }
        if (fb.window) SDL_DestroyWindow(fb.window);
    }
    fb.window = SDL_CreateWindow(title, x, y, desktop.w, desktop.h,
                                 SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS);
    return fb.window != nullptr;
}

// Lays the picture out in the window surface `s` and blackens the bars; 0 when the surface's
// format has no converter.
static int fb_surface_setup(SDL_Surface* s) {
    fb.surface = nullptr;
    fb.convert = fb_converter_for(s->format->format);
    if (!fb.convert) return 0;
    fb.surface = s;
    fb.surface_pixels = s->pixels;
    fb.surface_w = s->w;
    fb.surface_h = s->h;
    fb.surface_format = s->format->format;
    fb.layout = fb_layout(s->w, s->h, fb.width, fb.height);
    fb.picture = {fb.layout.dst_x, fb.layout.dst_y, fb.layout.src_w * fb.layout.scale,
                  fb.layout.src_h * fb.layout.scale};
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
    fb.full_update = 1;
    return 1;
}

// The software path: the window's own pixels, with SDL told not to back them with a GPU
// renderer (which on a machine without a GPU is a software rasteriser costing several times
// the blit).
static int fb_open_software(const char* title) {
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_OVERRIDE);
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!fb_create_window(title, driver && std::strcmp(driver, "x11") == 0)) return 0;
    SDL_Surface* s = SDL_GetWindowSurface(fb.window);
    return s && fb_surface_setup(s);
}

static SDL_Texture* fb_create_texture(Uint32 format) {
    SDL_Texture* t =
        SDL_CreateTexture(fb.renderer, format, SDL_TEXTUREACCESS_STREAMING, fb.width, fb.height);
    if (t) SDL_SetTextureBlendMode(t, SDL_BLENDMODE_NONE);
    return t;
}

// Whether the renderer takes `format`: it does when it creates a streaming texture in it,
// which is then kept.
static int fb_texture_accepted(std::uint32_t format, void*) {
    fb.texture = fb_create_texture(format);
    return fb.texture != nullptr;
}

// Whether the renderer's OpenGL runs on the processor. Asked only once a GL renderer exists,
// which has loaded the GL driver and made its context current.
static int fb_renderer_is_software(const SDL_RendererInfo& info) {
    if (info.flags & SDL_RENDERER_SOFTWARE) return 1;
    if (std::strncmp(info.name, "opengl", 6) != 0) return 0;
    using GetString = const unsigned char* (*)(unsigned int);
    auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    constexpr unsigned int gl_renderer = 0x1F01;
    return fb_gl_is_software(get ? reinterpret_cast<const char*>(get(gl_renderer)) : nullptr);
}

// The accelerated path. Returns -1 when the renderer turns out to run on the processor (and
// `keep_software` is 0): the caller then takes the software path.
static int fb_open_accelerated(const char* title, int keep_software) {
    SDL_SetHint(SDL_HINT_RENDER_VSYNC, "1");
    // Set before the renderer exists: scaling is by whole pixels, never blurred.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    if (!fb_create_window(title, 0)) return 0;
    fb.renderer = SDL_CreateRenderer(fb.window, -1, 0);
    if (!fb.renderer) return 0;
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(fb.renderer, &info) != 0) return 0;
    if (!keep_software && fb_renderer_is_software(info)) return -1;
    // Logical size with integer scaling: square pixels, black bars, centred.
    if (SDL_RenderSetLogicalSize(fb.renderer, fb.width, fb.height) != 0) return 0;
    if (SDL_RenderSetIntegerScale(fb.renderer, SDL_TRUE) != 0) return 0;
    fb.format = fb_pick_format(fb_texture_accepted, nullptr);
    fb.convert = fb.format ? fb_converter_for(fb.format) : nullptr;
    return fb.convert != nullptr;
}

// Present pacing and the lead estimate's starting point, from the display's refresh rate.
static void fb_init_timing() {
    SDL_DisplayMode current{};
    int hz = 60;
    if (SDL_GetCurrentDisplayMode(SDL_GetWindowDisplayIndex(fb.window), &current) == 0 &&
        current.refresh_rate > 0) {
        hz = current.refresh_rate;
    }
    // The flip waits for the display. Where nothing syncs to it (the software path, renderers
    // without vsync), presents are spaced one refresh interval apart so the loop never spins;
    // with vsync the spacing is a little shorter and never costs a frame.
    SDL_RendererInfo info{};
    const int vsync = fb.renderer && SDL_GetRendererInfo(fb.renderer, &info) == 0 &&
                      (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    fb.frame_ticks =
        SDL_GetPerformanceFrequency() * (vsync ? 9 : 10) / (10 * static_cast<Uint64>(hz));
    fb.next_present = 0;
    fb_lead_reset(fb.lead, 1000000000 / hz);
    fb.query = 0;
}

int fb_open(const char* title, int width, int height) {
    fb_release();
    fb.width = width;
    fb.height = height;
    fb.focus_lost = 0;
    fb.escape_tapped = 0;
    fb.need_restore = 0;

    const char* wanted = SDL_getenv("SDL_VIDEODRIVER");
    const char* forced = SDL_getenv(fb_path_variable);
    const char* driver = nullptr;
    int bad_request = 0, opened = 0;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) goto fail;
    fb.video = 1;
    SDL_AddEventWatch(fb_watch, nullptr);
    // Without a display server SDL falls back to a driver that draws into memory, and the show
    // would play unseen. Only a driver asked for by name may be one of those.
    driver = SDL_GetCurrentVideoDriver();
    if ((!wanted || !*wanted) && fb_headless_driver(driver)) goto fail;

    fb.path = fb_choose_path(forced, driver, fb_render_node_present("/dev/dri"), &bad_request);
    if (bad_request) {
        std::fprintf(stderr, "%s=%s is neither \"software\" nor \"accelerated\"; ignored\n",
                     fb_path_variable, forced);
    }
    if (fb.path == FbPath::accelerated) {
        opened = fb_open_accelerated(title, fb_path_forced_accelerated(forced));
        if (opened <= 0) {
            // A GPU renderer that cannot be had, or that is the processor after all.
            fb_release_window();
            fb.path = FbPath::software;
        }
    }
    if (fb.path == FbPath::software) {
        opened = fb_open_software(title);
        if (!opened && !fb_headless_driver(driver)) {
            // A window surface in a format without a converter: let the renderer convert.
            fb_release_window();
            fb.path = FbPath::accelerated;
            opened = fb_open_accelerated(title, 1) > 0;
        }
    }
    if (opened <= 0) goto fail;

    fb_init_timing();
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

// Acts on one event: close requests end the process; focus, exposure and lost textures are noted.
static void fb_handle(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT:  // also what SDL makes of SIGINT and SIGTERM
            fb_quit();
        case SDL_WINDOWEVENT:
            if (e.window.windowID != SDL_GetWindowID(fb.window)) break;
            switch (e.window.event) {
                case SDL_WINDOWEVENT_CLOSE:
                    fb_quit();
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    fb.focus_lost = 1;
                    break;
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    fb.focus_lost = 0;
                    fb.full_update = 1;
                    break;
                // The server may have dropped what the window showed: bars included, send all.
                case SDL_WINDOWEVENT_EXPOSED:
                case SDL_WINDOWEVENT_SHOWN:
                case SDL_WINDOWEVENT_RESTORED:
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    fb.full_update = 1;
                    break;
                default:
                    break;
            }
            break;
        case SDL_RENDER_TARGETS_RESET:
        case SDL_RENDER_DEVICE_RESET:
            fb.need_restore = 1;
            break;
        default:
            break;
    }
}

static void fb_pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) fb_handle(e);
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

// Converts into the streaming texture and draws it letterboxed. 0 when the texture is lost or
// cannot be locked.
static int fb_present_accelerated(const Pixel32* pixels) {
    if (fb.need_restore && !fb_restore()) return 0;
    void* locked = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(fb.texture, nullptr, &locked, &pitch) != 0) return 0;
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
    return 1;
}

// Converts and scales into the window's pixels and sends the picture to the screen; the bars
// were blackened when the surface was laid out and are sent only when the window needs them.
// 0 when the window has no surface to draw into.
static int fb_present_software(const Pixel32* pixels) {
    // SDL hands back the same surface until the window changes size; then it makes a new one.
    SDL_Surface* s = SDL_GetWindowSurface(fb.window);
    if (!s) return 0;
    if (s != fb.surface || s->pixels != fb.surface_pixels || s->w != fb.surface_w ||
        s->h != fb.surface_h || s->format->format != fb.surface_format) {
        if (!fb_surface_setup(s)) return 0;
    }
    if (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0) return 0;
    fb_blit_scaled(pixels, fb.width, fb.layout, fb.convert, s->format->BytesPerPixel, s->pixels,
                   s->pitch);
    if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
    if (fb.full_update) {
        fb.full_update = SDL_UpdateWindowSurface(fb.window) != 0;
    } else {
        SDL_UpdateWindowSurfaceRects(fb.window, &fb.picture, 1);
    }
    return 1;
}

// Inactive, or no display at all: the caller's loop runs on once per refresh interval, or
// sooner when the window hears something. Waiting on the window's events instead of sleeping a
// millisecond keeps an idle window idle.
static void fb_wait() {
    SDL_Event e;
    if (!fb.video) {
        SDL_Delay(fb_idle_wait_ms);
    } else if (SDL_WaitEventTimeout(&e, fb_idle_wait_ms)) {
        fb_handle(e);
        fb_pump();
    }
    fb.query = 0;  // no frame follows this query
}

int fb_idle() {
    // While shown, fb_update's own pump keeps the state current: no second pump per frame.
    if (fb_active()) return 0;
    // The wait takes what is already queued first and returns at once with it, so an event
    // that brings the window back is acted on before any waiting; no separate pump before it
    // (each pump of the X queue costs a handful of system calls, 60 times a second).
    fb_wait();
    return !fb_active();
}

int fb_update(const Pixel32* pixels) {
    if (fb.video) fb_pump();
    if (!fb_active()) {
        fb_wait();  // the frame is dropped
        return 1;
    }
    const std::int64_t query = fb.query ? fb.query : fb_now_ns();
    fb.query = 0;
    const int shown =
        fb.path == FbPath::software ? fb_present_software(pixels) : fb_present_accelerated(pixels);
    if (!shown) return 0;
    // The picture is on its way to the screen as the present returns: the software path has
    // waited for the server to take it, the accelerated one for the swap.
    fb_lead_seen(fb.lead, query, fb_now_ns());

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
    // Stamped at the first call after a frame: the caller's query for the next one.
    if (!fb.query) fb.query = fb_now_ns();
    return fb_lead_estimate(fb.lead);
}

int fb_escape_pressed() {
    // Updates the key state without taking events off the queue that fb_update handles.
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
    // An inactive window gets no keys, and fb_idle takes its events once a pass: pumping the X
    // queue here as well would cost its system calls twice per pass for nothing.
    if (fb_active()) SDL_PumpEvents();
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return (fb.escape_tapped.exchange(0) | keys[SDL_SCANCODE_ESCAPE]) != 0;
}

void fb_message_box(const char* text) {
    // stderr always: with no display it is the only report.
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    // A headless driver asked for by name means nobody could dismiss a box (tests, servers).
    if (fb_headless_driver(SDL_getenv("SDL_VIDEODRIVER"))) return;
    fb_box_guard_begin();
    SDL_ShowSimpleMessageBox(0, "", text, nullptr);
    fb_box_guard_end();
}
