// One faded texture, kept with what it was made from.
#include "effects/faded_texture.h"

#include <cassert>

#include "effects/blend.h"

static struct {
    alignas(64) Pixel32 texels[texture_texels];
    const Pixel32* source;  // null until the first fade
    Fade fades[faded_texture_max_fades];
    int fade_count;
} faded;

// Amounts alike in their low 8 bits fade alike.
static bool same_fade(Fade a, Fade b) {
    return a.color == b.color && ((a.amount ^ b.amount) & 0xFF) == 0;
}

static bool is_current(const Pixel32* texture, std::span<const Fade> fades) {
    if (faded.source != texture || faded.fade_count != static_cast<int>(fades.size())) return false;
    for (int i = 0; i < faded.fade_count; ++i)
        if (!same_fade(faded.fades[i], fades[i])) return false;
    return true;
}

bool faded_texture_uniform(std::span<const Fade> fades, Pixel32* colour) {
    int last_full = -1;  // the last fade by 255 (low 8 bits), which forgets the texel
    for (int i = 0; i < static_cast<int>(fades.size()); ++i)
        if ((fades[i].amount & 0xFF) == 0xFF) last_full = i;
    if (last_full < 0) return false;
    Pixel32 c = 0;  // any texel: the full fade gives the same result for all
    for (const Fade& f : fades.subspan(static_cast<std::size_t>(last_full)))
        fade_to_color(&c, &c, 1, f.color, f.amount);
    *colour = c;
    return true;
}

const Pixel32* faded_texture(const Pixel32* texture, std::span<const Fade> fades) {
    assert(fades.size() <= faded_texture_max_fades);
    if (fades.empty()) return texture;
    if (is_current(texture, fades)) return faded.texels;

    const Pixel32* in = texture;
    for (const Fade& f : fades) {
        fade_to_color(faded.texels, in, texture_texels, f.color, f.amount);
        in = faded.texels;
    }
    faded.source = texture;
    faded.fade_count = static_cast<int>(fades.size());
    for (int i = 0; i < faded.fade_count; ++i) faded.fades[i] = fades[i];
    return faded.texels;
}
