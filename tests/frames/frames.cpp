// The show stepped frame by frame on the offline sound device, as the live program would draw
// it at 60 frames per second, and the comparison of two builds' pictures.
#include "tests/frames/frames.h"

#include <cstdio>

#include "assets/assets.h"
#include "driver/frame.h"
#include "driver/show_sound.h"
#include "driver/sync.h"
#include "sound/bassmod.h"

// The end picture is copied unchanged from this order on; nothing of the tunnel shows through.
static constexpr std::int32_t end_picture_order = 18;

FrameMatch frames_match(std::span<const Pixel32> reference, std::span<const Pixel32> other,
                        std::int32_t order) {
    FrameMatch m{0, order >= end_picture_order, false};
    bool black = true;
    for (std::size_t i = 0; i < screen_pixels; ++i) {
        m.same_pixels += reference[i] == other[i];
        black = black && reference[i] == 0;
    }
    m.tunnel_free = m.tunnel_free || black;
    // 99.9 % of 76800 pixels: at most 76 may differ.
    const std::uint32_t allowed = m.tunnel_free ? 0 : screen_pixels / 1000;
    m.pass = screen_pixels - m.same_pixels <= allowed;
    return m;
}

int frames_run(void (*keep)(const FrameInfo& info, void* user), void* user) {
    if (!show_open_offline()) {
        std::fputs("vorta-frames: the offline sound device did not take the module\n", stderr);
        return 0;
    }
    demo_reset();
    show_play(sync_event_proc);
    // Every frame is composed, kept or not: flashes, beats and masks carry over between frames.
    for (std::uint64_t k = 0;; ++k) {
        const std::uint64_t sample = k * show_rate / frames_fps;
        if (!sound_offline_advance(sample)) break;
        const std::uint32_t position = BASSMOD_MusicGetPosition();
        demo_frame(position);
        if (k % frames_stride == 0) keep(FrameInfo{k, sample, position}, user);
    }
    BASSMOD_Free();
    return 1;
}
