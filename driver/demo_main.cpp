// Start-up, main loop and shutdown of the presentation.
#include "driver/demo_main.h"

#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "assets/assets.h"
#include "display/fb.h"
#include "driver/frame.h"
#include "driver/show_sound.h"
#include "driver/sync.h"
#include "sound/bassmod.h"
#include "tunnel/rays.h"

namespace {

constexpr const char* no_soundcard_text = "No soundcard? Suck me sideways from Tuesday! Get a GUS";
constexpr const char* load_failure_text = "lurba sanoo: vittu saatana perkele";
// Passed to the default device as it always has been; this sound layer ignores the flags.
constexpr std::uint32_t default_device_flags = 32;
constexpr const char* no_display_text =
    "vorta needs a graphical display: no fullscreen window could be opened.";

// Runs at every exit, including a window close, which ends the process from inside fb_update:
// the audio thread must stop decoding before the process tears down under it.
void stop_sound_at_exit() {
    BASSMOD_Free();
}

// Loads the module while `meanwhile` runs and returns the load's result. Parsing the module
// (with the decoder's tables built on first use) takes the processor; opening the window mostly
// waits for the display server and its window manager, so the two overlap on a second thread.
template <class F>
int load_module_while(F meanwhile) {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    const int loaded = show_load();  // the page has no threads: one after the other
    meanwhile();
    return loaded;
#else
    int loaded = 0;
    std::thread loader;
    try {
        loader = std::thread([&loaded] { loaded = show_load(); });
    } catch (const std::system_error&) {
        loaded = show_load();  // no thread to be had: one after the other
    }
    meanwhile();
    if (loader.joinable()) loader.join();
    return loaded;
#endif
}

}  // namespace

int demo_main() {
    if (BASSMOD_Init(BASSMOD_DEVICE_DEFAULT, show_rate, default_device_flags) != 1) {
        fb_message_box(no_soundcard_text);
        // The silent device plays on with the same clock and sync marks.
        BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, show_rate, 0);
    }
    std::atexit(stop_sound_at_exit);

    int opened = 0;
    if (!load_module_while([&opened] { opened = fb_open("vorta", screen_width, screen_height); })) {
        fb_close();  // the window, if it opened, goes before the message
        fb_message_box(load_failure_text);
        return 1;
    }
    if (!opened) {
        // Without a display there is nothing to show: say so rather than play to nobody.
        fb_close();
        fb_message_box(no_display_text);
        return 1;
    }
    rays_init();
    show_play(sync_event_proc);

    while (!fb_escape_pressed() && BASSMOD_MusicIsActive()) {
        // Minimised or switched away from: nothing is drawn, but the position is still read, so
        // the marks arrive in order and the show is in step when the window comes back.
        const int idle = fb_idle();
        // Draw the frame for the music heard when it is seen: the display measures the time from
        // this call, through drawing and presenting, to the middle of the frame's time on screen.
        sound_set_lead_ns(fb_present_lead_ns());
        const std::uint32_t position = BASSMOD_MusicGetPosition();
        if (idle) {
            demo_skip(position);
            continue;
        }
        demo_frame(position);
        fb_update(framebuffer);  // a frame it cannot show is simply dropped
    }

    BASSMOD_Free();
    fb_close();
    return 0;
}
