// The offline pass: the sound layer's offline device drives the show frame by frame, exactly as
// the capture tool does at 1000 frames a second.
#include "tools/avsync/reference.h"

#include "assets/assets.h"
#include "driver/frame.h"
#include "driver/show_sound.h"
#include "driver/sync.h"
#include "sound/bassmod.h"

namespace {

constexpr std::uint32_t rate = 44100;

static struct {
    bool flash;  // a flash mark arrived during the current step
} ref;

void note_flash(HSYNC, std::uint32_t data, std::uint32_t) {
    if (data == 255) ref.flash = true;
}

// Finds the song's first sound and keeps the second of frames from there.
void keep_opening(const std::int16_t* frames, std::uint32_t count, void* user) {
    auto* out = static_cast<Reference*>(user);
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool silent = frames[2 * i] == 0 && frames[2 * i + 1] == 0;
        if (out->opening.empty() && silent) {
            ++out->first_sound;
            continue;
        }
        if (out->opening.size() >= 2 * rate) return;
        out->opening.push_back(frames[2 * i]);
        out->opening.push_back(frames[2 * i + 1]);
    }
}

}  // namespace

int reference_build(std::uint32_t ms, Reference* out) {
    if (!show_open_offline(rate)) return 0;
    demo_reset();
    BASSMOD_MusicSetSync(BASSMOD_SYNC_MARK, BASSMOD_SYNC_MARK_DATA, note_flash, 0);
    out->frames.clear();
    out->flash_ms.clear();
    out->first_sound = 0;
    out->opening.clear();
    sound_offline_set_pcm_sink(keep_opening, out);
    show_play(sync_event_proc);
    out->frames.reserve(ms);
    for (std::uint64_t k = 0; k < ms; ++k) {
        ref.flash = false;
        if (!sound_offline_advance(k * rate / 1000)) break;
        demo_frame(BASSMOD_MusicGetPosition());
        // The flash row started after the previous step's sample: half a step back is within
        // half a millisecond of it.
        if (ref.flash) out->flash_ms.push_back(k ? k - 0.5 : 0.0);
        out->frames.push_back(
            sig_of([](int x, int y) { return framebuffer[y * screen_width + x]; }));
    }
    BASSMOD_Free();
    return 1;
}
