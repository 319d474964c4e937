// The display layer on Win32 and DirectDraw: an exclusive fullscreen mode of the framebuffer's
// size, a page-flipping chain, and the framebuffer converted row by row into the locked back
// buffer. "ddraw.dll" is loaded at run time, never linked.
#include <windows.h>
// After windows.h, which it needs.
#include <ddraw.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "display/convert.h"
#include "display/fb.h"

namespace {

using DirectDrawCreateFn = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);

// DDSURFACEDESC and DDPIXELFORMAT of the first interface version: their sizes are part of the
// calls, so a header that disagreed would make every call fail. The description holds a
// pointer: 108 bytes on 32-bit x86, 120 with 64-bit pointers and their alignment.
static_assert(sizeof(DDSURFACEDESC) == (sizeof(void*) == 4 ? 108 : 120));
static_assert(sizeof(DDPIXELFORMAT) == 32);

constexpr DWORD chain_caps =
    DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_VIDEOMEMORY;
constexpr DWORD lone_primary_caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_VIDEOMEMORY;

static struct {
    HWND window;
    int width, height;
    HMODULE ddraw_module;
    IDirectDraw* ddraw;
    IDirectDrawSurface* primary;
    IDirectDrawSurface* back;  // belongs to the chain of `primary`: never released on its own
    ConvertFn convert;
    int app_active;  // set by WM_ACTIVATEAPP
    int ready;       // fb_open got to the end and fb_close has not run since
    // The user's screen-saver setting, read by fb_open unless the show has it switched off
    // already, and put back by fb_close.
    int saver_known;
    int saver_held_off;
    BOOL saver_was_active;
    // Flip pacing, for fb_present_lead_ns: the time of the last flip and the smoothed interval
    // between flips, both in nanoseconds.
    std::int64_t last_flip_ns;
    std::int64_t flip_interval_ns;
} fb;

std::int64_t fb_now_ns() {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // Whole seconds and the rest apart: the counter times 10^9 would overflow within hours.
    const std::int64_t s = now.QuadPart / frequency.QuadPart;
    const std::int64_t rest = now.QuadPart % frequency.QuadPart;
    return s * 1000000000 + rest * 1000000000 / frequency.QuadPart;
}

// Notes one flip: the interval since the previous one, smoothed over about eight flips. Gaps
// longer than a tenth of a second (inactive spells, a slow frame) say nothing about the display.
void fb_note_flip() {
    const std::int64_t now = fb_now_ns();
    const std::int64_t gap = now - fb.last_flip_ns;
    if (fb.last_flip_ns != 0 && gap > 0 && gap < 100000000) {
        fb.flip_interval_ns =
            fb.flip_interval_ns == 0 ? gap : fb.flip_interval_ns + (gap - fb.flip_interval_ns) / 8;
    }
    fb.last_flip_ns = now;
}

// Tries the three chains from richest to poorest; the lone primary has no back buffer, so it only
// gets as far as the attachment step, which then fails.
HRESULT fb_create_chain() {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps = chain_caps;
    desc.dwBackBufferCount = 2;
    HRESULT hr = fb.ddraw->CreateSurface(&desc, &fb.primary, nullptr);
    if (SUCCEEDED(hr)) return hr;
    desc.dwBackBufferCount = 1;
    hr = fb.ddraw->CreateSurface(&desc, &fb.primary, nullptr);
    if (SUCCEEDED(hr)) return hr;
    desc = DDSURFACEDESC{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = lone_primary_caps;
    return fb.ddraw->CreateSurface(&desc, &fb.primary, nullptr);
}

}  // namespace

// The window procedure of the display window; runs inside fb_update's message pump.
LRESULT CALLBACK fb_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:
            fb_close();
            // exit, not ExitProcess: the exit handlers stop the sound thread before the process
            // goes, as at any other end of the show.
            std::exit(0);
        case WM_ACTIVATEAPP:
            fb.app_active = wparam != 0;
            return 0;
        case WM_SETCURSOR:
            SetCursor(nullptr);  // no cursor over the show
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}

int fb_open(const char* title, int width, int height) {
    fb.width = width;
    fb.height = height;
    fb.ready = 0;
    fb.app_active = 0;  // a new window: inactive until the platform activates it
    fb.last_flip_ns = 0;
    fb.flip_interval_ns = 0;
    // Remembered before anything can fail: fb_close puts it back whatever happens here.
    if (!fb.saver_held_off) {
        fb.saver_was_active = TRUE;
        SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &fb.saver_was_active, 0);
        fb.saver_known = 1;
    }

    fb.ddraw_module = LoadLibraryA("ddraw.dll");
    if (!fb.ddraw_module) return 0;
    // The cast goes through a generic function pointer: the exported symbol has this type.
    const auto create = reinterpret_cast<DirectDrawCreateFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(fb.ddraw_module, "DirectDrawCreate")));
    if (!create) return 0;
    if (FAILED(create(nullptr, &fb.ddraw, nullptr))) return 0;

    WNDCLASSA wc{};
    wc.lpfnWndProc = fb_window_proc;
    wc.lpszClassName = title;
    RegisterClassA(&wc);  // fails harmlessly when a previous fb_open registered it
    fb.window =
        CreateWindowExA(0, title, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

    if (FAILED(fb.ddraw->SetCooperativeLevel(fb.window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN)))
        return 0;
    if (FAILED(fb.ddraw->SetDisplayMode(width, height, 32)) &&
        FAILED(fb.ddraw->SetDisplayMode(width, height, 24)) &&
        FAILED(fb.ddraw->SetDisplayMode(width, height, 16))) {
        return 0;
    }
    if (FAILED(fb_create_chain())) return 0;

    DDSCAPS caps{};
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    if (FAILED(fb.primary->GetAttachedSurface(&caps, &fb.back))) return 0;

    DDPIXELFORMAT format{};
    format.dwSize = sizeof format;
    if (FAILED(fb.primary->GetPixelFormat(&format))) return 0;
    if (!(format.dwFlags & DDPF_RGB)) return 0;  // palettised or YUV: no converter for it
    fb.convert =
        conv_request(format.dwRGBBitCount, format.dwRBitMask, format.dwGBitMask, format.dwBBitMask);
    if (!fb.convert) return 0;

    // Neither stored in the profile nor broadcast: only this session, only while the show runs.
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
    fb.saver_held_off = 1;
    fb.ready = 1;
    return 1;
}

static void fb_pump() {
    MSG msg;
    while (PeekMessageA(&msg, fb.window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int fb_idle() {
    // While shown, fb_update's own pump keeps the state current: no second pump per frame.
    if (fb.app_active && fb.ready) return 0;
    fb_pump();
    if (fb.app_active && fb.ready) return 0;
    Sleep(1);  // what fb_update does with a frame it cannot show
    return 1;
}

int fb_update(const Pixel32* pixels) {
    fb_pump();
    // After a failed or closed fb_open there is no surface to draw on: the frame is dropped as
    // when the show is switched away from.
    if (!fb.app_active || !fb.ready) {
        Sleep(1);
        return 1;
    }
    fb.primary->Restore();  // brings back surface memory lost to another application

    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    if (FAILED(fb.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) return 0;
    // The pitch comes from each lock and may exceed a converted row.
    auto* dst = static_cast<std::uint8_t*>(desc.lpSurface);
    for (int y = 0; y < fb.height; y++) {
        fb.convert(pixels + static_cast<std::size_t>(y) * fb.width,
                   dst + static_cast<std::ptrdiff_t>(y) * desc.lPitch,
                   static_cast<std::uint32_t>(fb.width));
    }
    fb.back->Unlock(desc.lpSurface);  // the first interface version takes the locked address
    fb.primary->Flip(nullptr, DDFLIP_WAIT);
    fb_note_flip();
    Sleep(0);
    return 1;
}

void fb_close() {
    fb.ready = 0;
    if (fb.primary) {
        fb.primary->Release();  // takes the back buffers of its chain with it
        fb.primary = nullptr;
    }
    fb.back = nullptr;
    if (fb.ddraw) {
        fb.ddraw->RestoreDisplayMode();
        fb.ddraw->SetCooperativeLevel(fb.window, DDSCL_NORMAL);
        fb.ddraw->Release();
        fb.ddraw = nullptr;
    }
    if (fb.window) DestroyWindow(fb.window);
    if (fb.ddraw_module) {
        FreeLibrary(fb.ddraw_module);
        fb.ddraw_module = nullptr;
    }
    // The setting the user had before the show, not simply "on": a screen saver that was off
    // stays off.
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, fb.saver_known ? fb.saver_was_active : TRUE,
                          nullptr, 0);
    fb.saver_held_off = 0;
}

int fb_escape_pressed() {
    // Either bit counts: held now, or pressed since the last call.
    return (GetAsyncKeyState(VK_ESCAPE) & 0xFFFF) != 0;
}

void fb_message_box(const char* text) {
    // Also on stderr, where a console or a test harness reads it.
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    MessageBoxA(nullptr, text, nullptr, 0);
}

// A flip waits for the display and the frame is shown from the next refresh on, for one
// interval: it is seen, at its middle, about one and a half intervals after it was handed over.
std::int64_t fb_present_lead_ns() {
    return fb.flip_interval_ns + fb.flip_interval_ns / 2;
}
