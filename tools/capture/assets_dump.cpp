// Writes the embedded textures, masks and end picture as PNGs, masks in grey when they are.
#include "tools/capture/assets_dump.h"

#include <cstdio>
#include <string>

#include "assets/assets.h"
#include "tools/capture/png_write.h"

namespace {

int write_picture(const std::string& path, const Pixel32* pixels, int w, int h) {
    return png_save(path.c_str(), pixels, w, h, w, true);
}

int write_set(const std::string& dir, char letter, const Pixel32* const* set, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string name = dir + "/mask_" + letter + "_" + std::to_string(i) + ".png";
        if (!write_picture(name, set[i], screen_width, screen_height)) return 0;
    }
    return 1;
}

}  // namespace

int assets_write(const char* dir) {
    const std::string d = dir;
    // A texture's texel (u, v) is at u × 256 + v, so u counts rows of the PNG.
    return write_picture(d + "/texture_a.png", texture_a, 256, 256) &&
           write_picture(d + "/texture_b.png", texture_b, 256, 256) &&
           write_set(d, 'a', mask_set_a, mask_set_a_count) &&
           write_set(d, 'b', mask_set_b, mask_set_b_count) &&
           write_set(d, 'c', mask_set_c, mask_set_c_count) &&
           write_set(d, 'd', mask_set_d, mask_set_d_count) &&
           write_picture(d + "/end_picture.png", end_picture, screen_width, screen_height);
}
