// The per-frame pass: position, camera, trace, compose.
#include "driver/frame.h"

#include <cstring>

#include "driver/music_position.h"
#include "driver/sync.h"
#include "driver/timeline.h"
#include "tunnel/rays.h"

alignas(64) Pixel32 framebuffer[screen_pixels];

static struct {
    MusicPosition now;    // where this frame stands in the song
    float previous_time;  // the previous frame's music_time; 0 before the first frame
} frame;

void demo_frame(std::uint32_t position) {
    frame.previous_time = frame.now.time;
    frame.now = music_position(position);

    // The camera is a function of this frame's music time and beat count alone, and only the
    // tunnel reads the grid: frames that do not draw from it (the end picture, a tunnel all of
    // one colour) need neither, and skipping them changes no state (the beat count is only read
    // here).
    if (timeline_needs_grid(frame.now)) {
        Matrix4 camera = tunnel_camera(frame.now.time, beat_count.load(std::memory_order_relaxed));
        tunnel_trace(camera);
    }

    timeline_compose(framebuffer, frame.now, frame.previous_time);
}

void demo_skip(std::uint32_t position) {
    frame.previous_time = frame.now.time;
    frame.now = music_position(position);
    // The camera and grid are rebuilt from the clock for every drawn frame: nothing of them
    // carries over, so only the sync state needs its step.
    timeline_advance(frame.now, frame.previous_time);
}

void demo_reset() {
    frame.now = MusicPosition{0, 0.0f, 0.0f};
    frame.previous_time = 0.0f;
    sync_reset();
    std::memset(framebuffer, 0, sizeof framebuffer);
    rays_init();
}
