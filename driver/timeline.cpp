// The show's script: which texture, which fades, flashes and masks, order by order.
//
//   order 0-1   texture a, fade in from black over the first 256 rows
//   order 2-3   texture a
//   order 4-5   texture a, flash, mask set a (order 4) or b (order 5)
//   order 6-7   texture a, flash
//   order 8     texture a, fade to black by row × 8 (wraps at row 32, see below)
//   order 9-17  texture b, fade in over rows 0-63 of order 9, flash, mask set c (12), d (16)
//   order 18+   the end picture
#include "driver/timeline.h"

#include <algorithm>
#include <cstring>

#include "assets/assets.h"
#include "common/truncate.h"
#include "driver/sync.h"
#include "effects/blend.h"
#include "effects/faded_texture.h"
#include "effects/grey_mask.h"
#include "tunnel/mapper.h"

namespace {

constexpr std::uint32_t black = 0x000000;
constexpr std::uint32_t white = 0xFFFFFF;

// The white flash of the current strength, as a fade; timeline_advance decays it afterwards.
// The blend runs even at strength 0, which dims the picture by 255/256; that is the look.
Fade flash_fade() {
    return {white, trunc_i32(flash_level.load(std::memory_order_relaxed) * 255.0f)};
}

// A flash dies away over 5 rows of music, in the orders that show it.
void flash_decay(float time, float previous_time) {
    float level = flash_level.load(std::memory_order_relaxed);
    if (level > 0.0f) {
        level -= (time - previous_time) * 0.2f;
        if (level < 0.0f) level = 0.0f;
        flash_level.store(level, std::memory_order_relaxed);
    }
}

// Whether the frame of `order` shows the flash (and so decays it).
constexpr bool shows_flash(int order) {
    return (order >= 4 && order <= 7) || (order >= 9 && timeline_shows_tunnel(order));
}

// The mask of the set that the last mask selection mark chose; a value set in one order keeps
// selecting in the next.
const Pixel32* selected_mask(const Pixel32* const* set, int count) {
    std::int32_t value = mask_selection.load(std::memory_order_relaxed);
    return set[value % count];
}

// What a frame of the tunnel is made of: the texture, the fades applied to it in order, and the
// mask printed over it, if any. Reads the sync state, changes none of it.
struct Layers {
    const Pixel32* texture;
    Fade fades[faded_texture_max_fades];
    int fade_count = 0;
    const Pixel32* mask = nullptr;

    std::span<const Fade> fade_list() const {
        return {fades, static_cast<std::size_t>(fade_count)};
    }
};

Layers tunnel_layers(const MusicPosition& now) {
    const std::int32_t order = now.order;
    Layers l;
    int& n = l.fade_count;
    if (order <= 8) {  // first half
        l.texture = texture_a;
        // 255 − T turns slightly negative past T = 255 and truncates to 0: no fade, not 255.
        if (order < 2) l.fades[n++] = {black, trunc_i32(255.0f - now.time)};
        if (shows_flash(order)) {
            l.fades[n++] = flash_fade();
            l.mask = order == 4   ? selected_mask(mask_set_a, mask_set_a_count)
                     : order == 5 ? selected_mask(mask_set_b, mask_set_b_count)
                                  : nullptr;
        }
        // The fade only uses the amount's low 8 bits: it reaches black at row 31, snaps back to
        // full brightness at row 32 and fades out again by row 63. Two fades to the music.
        if (order == 8) l.fades[n++] = {black, trunc_i32(now.row * 8.0f)};
    } else {  // second half
        l.texture = texture_b;
        if (order == 9 && now.row < 64.0f)
            l.fades[n++] = {black, trunc_i32(255.0f - now.row * 4.0f)};
        l.fades[n++] = flash_fade();
        l.mask = order == 12   ? selected_mask(mask_set_c, mask_set_c_count)
                 : order == 16 ? selected_mask(mask_set_d, mask_set_d_count)
                               : nullptr;
    }
    return l;
}

// The picture alone: reads the sync state, changes none of it. Every frame of the tunnel is the
// texture drawn, faded by the frame's fades in order, then printed over by the mask, if any;
// the fades are applied to the texture before drawing (faded_texture), which gives the same
// pixels. Fades that leave the texture one colour leave the drawn tunnel that colour too.
void draw(Pixel32* fb, const MusicPosition& now) {
    if (!timeline_shows_tunnel(now.order)) {
        std::memcpy(fb, end_picture, sizeof(Pixel32) * screen_pixels);
        return;
    }
    const Layers l = tunnel_layers(now);
    Pixel32 colour;
    if (faded_texture_uniform(l.fade_list(), &colour)) {
        std::fill_n(fb, screen_pixels, colour);
    } else {
        tunnel_draw(fb, faded_texture(l.texture, l.fade_list()));
    }
    if (l.mask) {
        const std::uint8_t* grey = grey_mask(l.mask);
        if (grey) {
            multiply_grey_mask(fb, grey);
        } else {
            multiply_mask(fb, l.mask);
        }
    }
}

}  // namespace

bool timeline_needs_grid(const MusicPosition& now) {
    Pixel32 colour;
    return timeline_shows_tunnel(now.order) &&
           !faded_texture_uniform(tunnel_layers(now).fade_list(), &colour);
}

void timeline_compose(Pixel32* fb, const MusicPosition& now, float previous_time) {
    draw(fb, now);
    timeline_advance(now, previous_time);
}

void timeline_advance(const MusicPosition& now, float previous_time) {
    if (now.order >= 9 && timeline_shows_tunnel(now.order) && !second_half_started) {
        // The camera of this frame is already built; the reset turns it from the next frame.
        beat_count.store(0, std::memory_order_relaxed);
        second_half_started = 1;
    }
    if (shows_flash(now.order)) flash_decay(now.time, previous_time);
}
