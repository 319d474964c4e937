// Anti-aliased shapes as signed distance functions, and the canvas's conversion to Pixel32.
#include "tools/masks/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

namespace {

constexpr float pi = 3.14159265358979f;

float length(float x, float y) {
    return std::sqrt(x * x + y * y);
}

// Distance from (px, py) to the segment (x0, y0)-(x1, y1).
float segment_distance(float px, float py, float x0, float y0, float x1, float y1) {
    const float dx = x1 - x0, dy = y1 - y0;
    const float len2 = dx * dx + dy * dy;
    float t = len2 > 0.0f ? ((px - x0) * dx + (py - y0) * dy) / len2 : 0.0f;
    t = std::clamp(t, 0.0f, 1.0f);
    return length(px - (x0 + t * dx), py - (y0 + t * dy));
}

// 0..1 rounded to 0..255; values outside are held at the ends.
std::uint32_t to_byte(float v) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

}  // namespace

void canvas_clear(Canvas& canvas, Rgb color) {
    std::fill(std::begin(canvas.r), std::end(canvas.r), color.r);
    std::fill(std::begin(canvas.g), std::end(canvas.g), color.g);
    std::fill(std::begin(canvas.b), std::end(canvas.b), color.b);
}

void canvas_encode(const Canvas& canvas, unsigned char* out) {
    for (int i = 0; i < screen_pixels; ++i) {
        // Bytes in memory order blue, green, red, and a top byte that is always 0.
        out[4 * i + 0] = static_cast<unsigned char>(to_byte(canvas.b[i]));
        out[4 * i + 1] = static_cast<unsigned char>(to_byte(canvas.g[i]));
        out[4 * i + 2] = static_cast<unsigned char>(to_byte(canvas.r[i]));
        out[4 * i + 3] = 0;
    }
}

void shape_rect(Canvas& canvas, float x0, float y0, float x1, float y1, Rgb color, float radius) {
    const float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f;
    const float hx = (x1 - x0) * 0.5f - radius, hy = (y1 - y0) * 0.5f - radius;
    canvas_paint(canvas, x0, y0, x1, y1, color, [=](float x, float y) {
        const float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
        return length(std::max(qx, 0.0f), std::max(qy, 0.0f)) + std::min(std::max(qx, qy), 0.0f) -
               radius;
    });
}

void shape_frame(Canvas& canvas, float x0, float y0, float x1, float y1, float width, Rgb color) {
    shape_rect(canvas, x0, y0, x1, y0 + width, color);
    shape_rect(canvas, x0, y1 - width, x1, y1, color);
    shape_rect(canvas, x0, y0 + width, x0 + width, y1 - width, color);
    shape_rect(canvas, x1 - width, y0 + width, x1, y1 - width, color);
}

void shape_disc(Canvas& canvas, float cx, float cy, float radius, Rgb color) {
    canvas_paint(canvas, cx - radius, cy - radius, cx + radius, cy + radius, color,
                 [=](float x, float y) { return length(x - cx, y - cy) - radius; });
}

void shape_arc(Canvas& canvas, float cx, float cy, float radius, float width, float from, float to,
               Rgb color) {
    const float half = width * 0.5f;
    // End points of the arc, for the round caps.
    const float a0 = from * 2.0f * pi, a1 = to * 2.0f * pi;
    const float ex0 = cx + radius * std::sin(a0), ey0 = cy - radius * std::cos(a0);
    const float ex1 = cx + radius * std::sin(a1), ey1 = cy - radius * std::cos(a1);
    const float reach = radius + half;
    canvas_paint(canvas, cx - reach, cy - reach, cx + reach, cy + reach, color,
                 [=](float x, float y) {
                     // Turn of the point, clockwise from 12 o'clock, in 0..1.
                     float turn = std::atan2(x - cx, cy - y) / (2.0f * pi);
                     if (turn < from) turn += 1.0f;
                     if (turn >= from && turn <= to)
                         return std::fabs(length(x - cx, y - cy) - radius) - half;
                     return std::min(length(x - ex0, y - ey0), length(x - ex1, y - ey1)) - half;
                 });
}

void shape_line(Canvas& canvas, float x0, float y0, float x1, float y1, float width, Rgb color) {
    const float half = width * 0.5f;
    canvas_paint(canvas, std::min(x0, x1) - half, std::min(y0, y1) - half, std::max(x0, x1) + half,
                 std::max(y0, y1) + half, color,
                 [=](float x, float y) { return segment_distance(x, y, x0, y0, x1, y1) - half; });
}

void shape_polygon(Canvas& canvas, const float (*points)[2], int count, Rgb color) {
    // Winding from the signed area, so each edge's outward normal points away from the inside.
    float area = 0.0f, bx0 = points[0][0], by0 = points[0][1], bx1 = bx0, by1 = by0;
    for (int i = 0; i < count; ++i) {
        const int j = (i + 1) % count;
        area += points[i][0] * points[j][1] - points[j][0] * points[i][1];
        bx0 = std::min(bx0, points[i][0]);
        by0 = std::min(by0, points[i][1]);
        bx1 = std::max(bx1, points[i][0]);
        by1 = std::max(by1, points[i][1]);
    }
    const float sign = area > 0.0f ? 1.0f : -1.0f;
    canvas_paint(canvas, bx0, by0, bx1, by1, color, [=](float x, float y) {
        // Largest distance beyond any edge line: exact along the edges, slightly round at
        // sharp corners, which a one-pixel soft edge hides.
        float d = -1e9f;
        for (int i = 0; i < count; ++i) {
            const int j = (i + 1) % count;
            const float ex = points[j][0] - points[i][0], ey = points[j][1] - points[i][1];
            const float len = length(ex, ey);
            if (len == 0.0f) continue;
            d = std::max(d, sign * ((x - points[i][0]) * ey - (y - points[i][1]) * ex) / len);
        }
        return d;
    });
}

void shape_arrow(Canvas& canvas, float x0, float y0, float x1, float y1, float width, float head,
                 Rgb color) {
    const float dx = x1 - x0, dy = y1 - y0;
    const float len = length(dx, dy);
    const float ux = dx / len, uy = dy / len;
    // The stroke stops inside the head so its round end never shows past the head's sides.
    const float bx = x1 - ux * head, by = y1 - uy * head;
    shape_line(canvas, x0, y0, bx + ux * width * 0.5f, by + uy * width * 0.5f, width, color);
    const float spread = head * 0.75f;
    const float tri[3][2] = {
        {x1, y1}, {bx - uy * spread, by + ux * spread}, {bx + uy * spread, by - ux * spread}};
    shape_polygon(canvas, tri, 3, color);
}
