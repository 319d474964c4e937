// A 320 × 240 floating-point colour canvas and anti-aliased shapes painted onto it.
#pragma once

#include "assets/pixel.h"

// A colour with channels 0 (none) to 1 (full).
struct Rgb {
    float r, g, b;
};
inline constexpr Rgb ink{0.0f, 0.0f, 0.0f};    // black: hides the tunnel under a mask
inline constexpr Rgb paper{1.0f, 1.0f, 1.0f};  // white: lets the tunnel through

// One picture being made, one float per channel and pixel, rows top to bottom.
struct Canvas {
    float r[screen_pixels];
    float g[screen_pixels];
    float b[screen_pixels];
};

// Fills the whole canvas with one colour.
void canvas_clear(Canvas& canvas, Rgb color);
// Mixes `color` into pixel `index` by `cover` (0: untouched, 1: replaced).
inline void canvas_mix(Canvas& canvas, int index, Rgb color, float cover) {
    canvas.r[index] += (color.r - canvas.r[index]) * cover;
    canvas.g[index] += (color.g - canvas.g[index]) * cover;
    canvas.b[index] += (color.b - canvas.b[index]) * cover;
}
// Bytes of one canvas as canvas_encode writes it.
inline constexpr int canvas_bytes = screen_pixels * 4;
// Writes the canvas to `out` (canvas_bytes) as 76800 Pixel32 words 0x00RRGGBB, little-endian.
void canvas_encode(const Canvas& canvas, unsigned char* out);

// Paints `color` over the pixels inside the shape whose signed distance (pixels, negative
// inside) `distance(x, y)` gives at each pixel centre, within the box x0..x1, y0..y1. Edges
// are anti-aliased over one pixel.
template <class Distance>
void canvas_paint(Canvas& canvas, float x0, float y0, float x1, float y1, Rgb color,
                  Distance distance) {
    // One pixel of margin for the soft edge; the box is then held to the screen.
    int ix0 = static_cast<int>(x0) - 1, iy0 = static_cast<int>(y0) - 1;
    int ix1 = static_cast<int>(x1) + 2, iy1 = static_cast<int>(y1) + 2;
    if (ix0 < 0) ix0 = 0;
    if (iy0 < 0) iy0 = 0;
    if (ix1 > screen_width) ix1 = screen_width;
    if (iy1 > screen_height) iy1 = screen_height;
    for (int y = iy0; y < iy1; ++y) {
        for (int x = ix0; x < ix1; ++x) {
            float cover = 0.5f - distance(x + 0.5f, y + 0.5f);
            if (cover <= 0.0f) continue;
            if (cover > 1.0f) cover = 1.0f;
            canvas_mix(canvas, y * screen_width + x, color, cover);
        }
    }
}

// Axis-aligned box from (x0, y0) to (x1, y1), corners rounded by `radius`.
void shape_rect(Canvas& canvas, float x0, float y0, float x1, float y1, Rgb color,
                float radius = 0.0f);
// Outline of a box, `width` thick, drawn inside the box's edges.
void shape_frame(Canvas& canvas, float x0, float y0, float x1, float y1, float width, Rgb color);
// Filled disc.
void shape_disc(Canvas& canvas, float cx, float cy, float radius, Rgb color);
// Arc of a circle `width` thick with round ends, from turn `from` to turn `to` (0 = 12 o'clock,
// clockwise, 1 = a full circle).
void shape_arc(Canvas& canvas, float cx, float cy, float radius, float width, float from, float to,
               Rgb color);
// Straight stroke with round ends.
void shape_line(Canvas& canvas, float x0, float y0, float x1, float y1, float width, Rgb color);
// Filled convex polygon given as `count` points (x, y) in either winding.
void shape_polygon(Canvas& canvas, const float (*points)[2], int count, Rgb color);
// Arrow from (x0, y0) to its tip (x1, y1): a stroke `width` thick and a head `head` long.
void shape_arrow(Canvas& canvas, float x0, float y0, float x1, float y1, float width, float head,
                 Rgb color);
