// The display layer in a web page: the framebuffer drawn on the page's <canvas>, integer-scaled
// and crisp, one frame per requestAnimationFrame.
//
// The portable main loop runs unchanged: fb_update draws the frame and then suspends the program
// (Asyncify) until the browser's next animation frame, so each pass of the loop is one frame
// callback and the browser keeps its event loop between frames. The page (web/index.html)
// provides Module.canvas and the Module.vorta* hooks used below.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>

#include "display/fb.h"

namespace {

static struct {
    bool open;
    int width;
    int height;
    // The picture as the canvas takes it: bytes R, G, B, A, rows contiguous.
    std::uint8_t rgba[screen_pixels * 4];
} web;

// The JavaScript below must stay as written (clang-format would split its === and =>).
// clang-format off
// Sizes the canvas for a width × height picture and starts watching keys and the window size.
EM_JS(int, web_fb_open, (int width, int height), {
    const canvas = Module.canvas;
    if (!canvas || !canvas.getContext) return 0;
    const ctx = canvas.getContext("2d", {alpha : false});
    if (!ctx) return 0;
    canvas.width = width;
    canvas.height = height;
    const image = ctx.createImageData(width, height);
    const fit = () => {
        // The largest whole multiple of the picture that fits, counted in device pixels so that
        // every framebuffer pixel covers the same number of screen pixels.
        const ratio = window.devicePixelRatio || 1;
        const scale = Math.max(
            1, Math.floor(Math.min(window.innerWidth * ratio / width, window.innerHeight * ratio / height)));
        canvas.style.width = (width * scale / ratio) + "px";
        canvas.style.height = (height * scale / ratio) + "px";
    };
    const keys = (e) => {
        if (e.key !== "Escape") return;
        Module.vortaEscapeHeld = e.type === "keydown";
        // A press and release between two frames still counts once.
        if (e.type === "keydown") Module.vortaEscapeSeen = true;
        e.preventDefault();
    };
    window.addEventListener("resize", fit);
    window.addEventListener("keydown", keys);
    window.addEventListener("keyup", keys);
    fit();
    Module.vortaDisplay = {ctx, image, fit, keys, frameMs : 1000 / 60, lastFrame : 0};
    Module.vortaEscapeHeld = false;
    Module.vortaEscapeSeen = false;
    return 1;
});

// Copies the RGBA picture at `pixels` onto the canvas; the browser shows it at its next paint.
EM_JS(void, web_fb_draw, (const std::uint8_t* pixels), {
    const d = Module.vortaDisplay;
    d.image.data.set(HEAPU8.subarray(pixels, pixels + d.image.data.length));
    d.ctx.putImageData(d.image, 0, 0);
    if (Module.vortaOnFrame) Module.vortaOnFrame();
});

// Resolves at the browser's next animation frame, remembering the frame interval.
EM_ASYNC_JS(void, web_fb_wait_frame, (), {
    const d = Module.vortaDisplay;
    await new Promise((resolve) => requestAnimationFrame((t) => {
        if (d.lastFrame > 0 && t > d.lastFrame) {
            // Smoothed: one late frame should not move the aim of the next ones by much.
            d.frameMs += (Math.min(t - d.lastFrame, 100) - d.frameMs) / 8;
        }
        d.lastFrame = t;
        resolve();
    }));
});

EM_JS(void, web_fb_close, (), {
    const d = Module.vortaDisplay;
    if (!d) return;
    window.removeEventListener("resize", d.fit);
    window.removeEventListener("keydown", d.keys);
    window.removeEventListener("keyup", d.keys);
    Module.vortaDisplay = null;
    if (Module.vortaOnClose) Module.vortaOnClose();
});

EM_JS(int, web_fb_escape, (), {
    const pressed = Module.vortaEscapeHeld || Module.vortaEscapeSeen;
    Module.vortaEscapeSeen = false;
    return pressed ? 1 : 0;
});

EM_JS(double, web_fb_frame_ms, (), {
    return Module.vortaDisplay ? Module.vortaDisplay.frameMs : 1000 / 60;
});

EM_JS(void, web_fb_message, (const char* text), {
    if (Module.vortaOnMessage) Module.vortaOnMessage(UTF8ToString(text));
});

// clang-format on

}  // namespace

int fb_open(const char*, int width, int height) {
    if (width != screen_width || height != screen_height) return 0;  // the buffer's fixed size
    if (!web_fb_open(width, height)) return 0;
    web.open = true;
    web.width = width;
    web.height = height;
    return 1;
}

int fb_update(const Pixel32* pixels) {
    if (!web.open) return 0;
    const int count = web.width * web.height;
    for (int i = 0; i < count; ++i) {
        const Pixel32 p = pixels[i];
        web.rgba[4 * i + 0] = static_cast<std::uint8_t>(p >> 16);
        web.rgba[4 * i + 1] = static_cast<std::uint8_t>(p >> 8);
        web.rgba[4 * i + 2] = static_cast<std::uint8_t>(p);
        web.rgba[4 * i + 3] = 255;  // the stored fourth byte is 0: the canvas wants it opaque
    }
    web_fb_draw(web.rgba);
    // The loop's next pass starts at the next animation frame. A hidden page gets none, so the
    // loop waits there while the music plays on and takes up its position again on return.
    web_fb_wait_frame();
    return 1;
}

// The page shows every frame it is given; a hidden page holds the loop in fb_update instead.
int fb_idle() {
    return 0;
}

void fb_close() {
    if (web.open) web_fb_close();
    web.open = false;
}

int fb_escape_pressed() {
    return web.open ? web_fb_escape() : 0;
}

void fb_message_box(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    web_fb_message(text);
}

// Nanoseconds from now until a frame handed to fb_update now is seen, at the middle of its time
// on screen: drawn now, it is composited at the next display refresh, one frame interval away,
// and stays up for one interval.
std::int64_t fb_present_lead_ns() {
    return static_cast<std::int64_t>(web_fb_frame_ms() * 1.5e6);
}
