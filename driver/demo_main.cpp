// Start-up, main loop and shutdown of the presentation.
#include "driver/demo_main.h"

#include <cstdint>
#include <cstdlib>

#include "assets/assets.h"
#include "display/fb.h"
#include "driver/frame.h"
#include "driver/sync.h"
#include "sound/bassmod.h"
#include "tunnel/rays.h"

namespace {

constexpr const char* no_soundcard_text = "No soundcard? Suck me sideways from Tuesday! Get a GUS";
constexpr const char* load_failure_text = "lurba sanoo: vittu saatana perkele";
constexpr const char* no_display_text =
    "vorta needs a graphical display: no fullscreen window could be opened.";

// Runs at every exit, including a window close, which ends the process from inside fb_update:
// the audio thread must stop decoding before the process tears down under it.
void stop_sound_at_exit() {
    BASSMOD_Free();
}

}  // namespace

int demo_main() {
    if (BASSMOD_Init(BASSMOD_DEVICE_DEFAULT, 44100, 32) != 1) {
        fb_message_box(no_soundcard_text);
        // The silent device plays on with the same clock and sync marks.
        BASSMOD_Init(BASSMOD_DEVICE_NOSOUND, 44100, 0);
    }
    std::atexit(stop_sound_at_exit);

    // The loader gets the module's real length so that it never reads past the module.
    if (BASSMOD_MusicLoad(1, module_image, 0, module_length, 0) != 1) {
        fb_message_box(load_failure_text);
        return 1;
    }

    if (!fb_open("vorta", screen_width, screen_height)) {
        // Without a display there is nothing to show: say so rather than play to nobody.
        fb_close();
        fb_message_box(no_display_text);
        return 1;
    }
    rays_init();
    BASSMOD_MusicSetSync(3, 1, sync_event_proc, 0);
    BASSMOD_MusicSetPositionScaler(256);
    BASSMOD_MusicPlay();

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
