// Renders the round application icon from the closing picture by area sampling.
#include "tools/icons/icon.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace {

// One channel (shift 16 red, 8 green, 0 blue) of the picture at pixel (x, y), held to the
// picture's edges.
float texel(const Pixel32* picture, int x, int y, int shift) {
    x = std::clamp(x, 0, screen_width - 1);
    y = std::clamp(y, 0, screen_height - 1);
    return static_cast<float>(picture[y * screen_width + x] >> shift & 0xFF);
}

// Bilinear sample of one channel at (x, y) in picture coordinates (pixel centres at + 0.5).
float sample(const Pixel32* picture, float x, float y, int shift) {
    const float fx = x - 0.5f, fy = y - 0.5f;
    const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    const float tx = fx - x0, ty = fy - y0;
    const float top =
        texel(picture, x0, y0, shift) * (1 - tx) + texel(picture, x0 + 1, y0, shift) * tx;
    const float low =
        texel(picture, x0, y0 + 1, shift) * (1 - tx) + texel(picture, x0 + 1, y0 + 1, shift) * tx;
    return top * (1 - ty) + low * ty;
}

}  // namespace

void icon_render(const Pixel32* picture, int size, std::uint8_t* rgba) {
    assert(size >= 1 && size <= icon_max_size);
    // Enough samples per axis that each lands within about a picture pixel of the next, so the
    // thin rings average out at small sizes instead of flickering in and out.
    const int n = std::max(4, static_cast<int>(std::ceil(2.0f * icon_mouth_radius / size)) * 2);
    const float step = 2.0f / (size * n);  // one sample in icon units, the icon spanning -1..1
    for (int iy = 0; iy < size; ++iy) {
        for (int ix = 0; ix < size; ++ix) {
            float r = 0, g = 0, b = 0;
            int inside = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const float u = -1.0f + ((ix * n + sx) + 0.5f) * step;
                    const float v = -1.0f + ((iy * n + sy) + 0.5f) * step;
                    if (u * u + v * v > 1.0f) continue;
                    // The title covers the lower half of the mouth in the picture; the rings are
                    // circles about the centre, so the lower half is the upper one mirrored.
                    const float px = icon_mouth_x + u * icon_mouth_radius;
                    const float py = icon_mouth_y - std::fabs(v) * icon_mouth_radius;
                    r += sample(picture, px, py, 16);
                    g += sample(picture, px, py, 8);
                    b += sample(picture, px, py, 0);
                    ++inside;
                }
            }
            std::uint8_t* out = rgba + 4 * (iy * size + ix);
            // Straight alpha: the colour is the mean of the samples inside, the alpha their share.
            const float k = inside ? 1.0f / inside : 0.0f;
            out[0] = static_cast<std::uint8_t>(std::lround(r * k));
            out[1] = static_cast<std::uint8_t>(std::lround(g * k));
            out[2] = static_cast<std::uint8_t>(std::lround(b * k));
            out[3] = static_cast<std::uint8_t>(std::lround(255.0f * inside / (n * n)));
        }
    }
}
