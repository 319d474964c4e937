// Whole-number scaling: convert each source row once, widen it in place, repeat the row.
#include "display/fb_scale.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

FbLayout fb_layout(int out_w, int out_h, int w, int h) {
    FbLayout l{};
    l.scale = std::max(1, std::min(out_w / w, out_h / h));
    // Per axis: centre the enlarged picture, or, where it does not fit, its middle part.
    const int pw = w * l.scale, ph = h * l.scale;
    l.dst_x = pw <= out_w ? (out_w - pw) / 2 : 0;
    l.dst_y = ph <= out_h ? (out_h - ph) / 2 : 0;
    l.src_w = pw <= out_w ? w : out_w;
    l.src_h = ph <= out_h ? h : out_h;
    l.src_x = (w - l.src_w) / 2;
    l.src_y = (h - l.src_h) / 2;
    return l;
}

// Widens `count` pixels at the start of `row` to `scale` copies each, in place. Works from the
// right end backwards: pixel i moves to i × scale >= i, so no pixel is overwritten before it is
// read.
template <int Bytes>
static void fb_widen(std::uint8_t* row, int count, int scale) {
    for (int i = count - 1; i >= 0; i--) {
        std::uint8_t px[Bytes];
        std::memcpy(px, row + static_cast<std::ptrdiff_t>(i) * Bytes, Bytes);
        std::uint8_t* out = row + static_cast<std::ptrdiff_t>(i) * scale * Bytes;
        for (int k = 0; k < scale; k++) std::memcpy(out + k * Bytes, px, Bytes);
    }
}

void fb_blit_scaled(const Pixel32* src, int src_pitch, const FbLayout& l, ConvertFn convert,
                    int bytes_per_pixel, void* dst, int pitch) {
    const std::size_t row_bytes = static_cast<std::size_t>(l.src_w) * l.scale * bytes_per_pixel;
    std::uint8_t* out = static_cast<std::uint8_t*>(dst) +
                        static_cast<std::ptrdiff_t>(l.dst_y) * pitch +
                        static_cast<std::ptrdiff_t>(l.dst_x) * bytes_per_pixel;
    for (int y = 0; y < l.src_h; y++) {
        const Pixel32* in = src + static_cast<std::ptrdiff_t>(l.src_y + y) * src_pitch + l.src_x;
        // Converted straight into the first row of the block, then widened there.
        convert(in, out, static_cast<std::uint32_t>(l.src_w));
        if (l.scale > 1) {
            if (bytes_per_pixel == 4)
                fb_widen<4>(out, l.src_w, l.scale);
            else if (bytes_per_pixel == 3)
                fb_widen<3>(out, l.src_w, l.scale);
            else
                fb_widen<2>(out, l.src_w, l.scale);
        }
        std::uint8_t* first = out;
        out += pitch;
        for (int k = 1; k < l.scale; k++, out += pitch) std::memcpy(out, first, row_bytes);
    }
}
