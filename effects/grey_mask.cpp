// The grey masks, made on first use and kept for the rest of the run.
#include "effects/grey_mask.h"

namespace {

struct {
    const Pixel32* source[grey_mask_capacity];
    bool grey[grey_mask_capacity];  // whether the picture is grey, so source is looked at once
    int count;
    alignas(64) std::uint8_t pixels[grey_mask_capacity][screen_pixels];
} masks;

}  // namespace

const std::uint8_t* grey_mask(const Pixel32* mask) {
    for (int k = 0; k < masks.count; ++k) {
        if (masks.source[k] == mask) return masks.grey[k] ? masks.pixels[k] : nullptr;
    }
    if (masks.count == grey_mask_capacity) return nullptr;
    const int k = masks.count++;
    masks.source[k] = mask;
    bool grey = true;
    for (int i = 0; i < screen_pixels; ++i) {
        const std::uint32_t g = mask[i] & 0xFF;
        grey &= mask[i] == g * 0x010101u;
        masks.pixels[k][i] = static_cast<std::uint8_t>(g);
    }
    masks.grey[k] = grey;
    return grey ? masks.pixels[k] : nullptr;
}
