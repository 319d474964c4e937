// RGB to BT.709 studio-range YCbCr in 16.16 fixed point, and the nearest-neighbour planes.
#include "tools/capture/yuv.h"

#include <cstring>

namespace {

// 16.16 fixed point of v, rounded to nearest.
constexpr int fix(double v) {
    return static_cast<int>(v * 65536 + (v < 0 ? -0.5 : 0.5));
}

// BT.709 weights of red and blue in luma; luma spans 219 steps, chroma 224 (studio range), which
// is what players assume for HD frames that carry no other tag.
constexpr double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
constexpr double luma_span = 219.0 / 255, chroma_span = 224.0 / 255;
constexpr int yr = fix(kr * luma_span), yg = fix(kg * luma_span), yb = fix(kb * luma_span);
// Green takes the rounding of the chroma weights, so that each row sums to exactly 0 and grey
// gives chroma 128.
constexpr int ur = fix(-kr / (2 * (1 - kb)) * chroma_span), ub = fix(chroma_span / 2),
              ug = -(ur + ub);
constexpr int vr = fix(chroma_span / 2), vb = fix(-kb / (2 * (1 - kr)) * chroma_span),
              vg = -(vr + vb);

// The converted source frame, one plane each.
static std::uint8_t small_y[320 * 240], small_u[320 * 240], small_v[320 * 240];

// Writes `plane` (w × h) upscaled k times into `out`; returns the end of what it wrote.
std::uint8_t* upscale_plane(const std::uint8_t* plane, int w, int h, int k, std::uint8_t* out) {
    const int out_w = w * k;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* first = out;
        for (int x = 0; x < w; ++x) {
            std::memset(out, plane[y * w + x], static_cast<std::size_t>(k));
            out += k;
        }
        // The other k − 1 rows of the big pixels repeat the first one.
        for (int i = 1; i < k; ++i, out += out_w) std::memcpy(out, first, out_w);
    }
    return out;
}

}  // namespace

Yuv yuv_from_rgb(Pixel32 p) {
    const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    // The offsets (16, 128) go in before the shift, with half a step for rounding; every sum is
    // then positive, so the shift rounds to nearest.
    return Yuv{static_cast<std::uint8_t>((yr * r + yg * g + yb * b + (16 << 16) + 0x8000) >> 16),
               static_cast<std::uint8_t>((ur * r + ug * g + ub * b + (128 << 16) + 0x8000) >> 16),
               static_cast<std::uint8_t>((vr * r + vg * g + vb * b + (128 << 16) + 0x8000) >> 16)};
}

void yuv_upscale(const Pixel32* frame, int w, int h, int scale, std::uint8_t* out) {
    for (int i = 0; i < w * h; ++i) {
        const Yuv c = yuv_from_rgb(frame[i]);
        small_y[i] = c.y;
        small_u[i] = c.u;
        small_v[i] = c.v;
    }
    out = upscale_plane(small_y, w, h, scale, out);
    // 4:2:0 halves both directions: each big pixel is scale / 2 chroma samples wide and high.
    const int k = yuv_is_420(scale) ? scale / 2 : scale;
    out = upscale_plane(small_u, w, h, k, out);
    upscale_plane(small_v, w, h, k, out);
}
