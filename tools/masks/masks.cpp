// The four mask sets: black type and shapes on white, one small story per set, told in the
// order the music's overlay values pick the images.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/masks/pictures.h"
#include "tools/masks/type.h"

// Pacing: in sets a, b and d the images change at rows 0, 12, 20 and 32 of their order and the
// last one then stays for the remaining 96 rows, so the first three are quick beats and the
// last is the statement. Set c changes twice four times (rows 0-32 and 64-96) and has two
// such groups: depth, then light.

namespace {

constexpr float cx = screen_width * 0.5f;

// Largest size up to `largest` at which `text` fits in `width` pixels.
float fit_size(Font font, const char* text, float width, float largest, float tracking = 0.0f) {
    float size = largest;
    while (size > 8.0f && type_width(font, size, text, tracking) > width) size -= 1.0f;
    return size;
}

// Small counter in the lower right corner, e.g. "2/4", in every mask but the held last ones.
void counter(Canvas& canvas, int index, int count, Rgb color = ink) {
    char text[24];
    std::snprintf(text, sizeof text, "%d/%d", index + 1, count);
    type_draw(canvas, font_mono, 11, screen_width - 12, screen_height - 10, text, color,
              align_right);
}

// Set a, "going in": a countdown ring emptying around 3, 2, 1, then the title cut into a
// black band so the tunnel shows through its letters.
void draw_set_a(Canvas& canvas, int index) {
    canvas_clear(canvas, paper);
    if (index < 3) {
        const float ring_y = 108.0f;
        // The ring loses a third with each count; at 3 it is closed.
        shape_arc(canvas, cx, ring_y, 80.0f, 12.0f, 0.0f, (3 - index) / 3.0f, ink);
        const char numeral[2] = {static_cast<char>('3' - index), 0};
        const float size = 120.0f;
        type_draw(canvas, font_condensed, size, cx,
                  ring_y + type_cap_height(font_condensed, size) * 0.5f, numeral, ink,
                  align_center);
        type_draw(canvas, font_light, 22, cx, 222, "going in", ink, align_center, 3.0f);
        counter(canvas, index, 4);
        return;
    }
    shape_rect(canvas, 0, 74, screen_width, 166, ink);
    shape_rect(canvas, 0, 64, screen_width, 67, ink);
    shape_rect(canvas, 0, 173, screen_width, 176, ink);
    const float size = fit_size(font_bold, "vorta", 270.0f, 120.0f, -2.0f);
    type_draw(canvas, font_bold, size, cx, 144, "vorta", paper, align_center, -2.0f);
    type_draw(canvas, font_light, 18, cx, 44, "a flight through the tunnel", ink, align_center,
              1.0f);
}

// Set b, "speed": a gauge filling up with the figure in its middle, then full speed as three
// black chevrons.
void draw_set_b(Canvas& canvas, int index) {
    canvas_clear(canvas, paper);
    if (index < 3) {
        const float gy = 122.0f, radius = 84.0f;
        const float fill[3] = {0.25f, 0.5f, 0.85f};
        const char* figures[3] = {"40", "80", "160"};
        // The dial spans three quarters of a turn, open at the bottom for the word.
        shape_arc(canvas, cx, gy, radius, 3.0f, -0.375f, 0.375f, ink);
        shape_arc(canvas, cx, gy, radius - 12.0f, 16.0f, -0.375f, -0.375f + 0.75f * fill[index],
                  ink);
        for (int t = 0; t <= 10; ++t) {
            const float turn = (-0.375f + 0.075f * t) * 6.2831853f;
            const float s = std::sin(turn), c = std::cos(turn);
            const float inner = t % 5 == 0 ? radius + 4.0f : radius + 6.0f;
            shape_line(canvas, cx + s * inner, gy - c * inner, cx + s * (radius + 14.0f),
                       gy - c * (radius + 14.0f), t % 5 == 0 ? 4.0f : 2.0f, ink);
        }
        const float size = 56.0f;
        type_draw(canvas, font_condensed, size, cx,
                  gy + type_cap_height(font_condensed, size) * 0.5f, figures[index], ink,
                  align_center);
        type_draw(canvas, font_light, 24, cx, 216, "speed", ink, align_center, 3.0f);
        counter(canvas, index, 4);
        return;
    }
    // Three chevrons, each wider than the last, pointing into the screen's right edge.
    for (int k = 0; k < 3; ++k) {
        const float x = 28.0f + k * 92.0f, top = 40.0f, mid = 118.0f, bottom = 196.0f;
        const float depth = 58.0f, thick = 16.0f + 8.0f * k;
        const float upper[4][2] = {
            {x, top}, {x + thick, top}, {x + thick + depth, mid}, {x + depth, mid}};
        const float lower[4][2] = {
            {x + depth, mid}, {x + thick + depth, mid}, {x + thick, bottom}, {x, bottom}};
        shape_polygon(canvas, upper, 4, ink);
        shape_polygon(canvas, lower, 4, ink);
    }
    type_draw(canvas, font_bold, 30, cx, 228, "full speed", ink, align_center, 1.0f);
}

// Set c, "depth", then "light": a sounding line dropping down a scale with the depth beside
// it; then the screen goes black and an opening of light widens until it fills the view.
void draw_set_c(Canvas& canvas, int index) {
    if (index < 4) {
        canvas_clear(canvas, paper);
        const float scale_x = 30.0f, top = 20.0f, bottom = 220.0f;
        shape_rect(canvas, scale_x - 1.5f, top, scale_x + 1.5f, bottom, ink);
        for (int t = 0; t <= 10; ++t) {
            const float y = top + (bottom - top) * t / 10.0f;
            shape_rect(canvas, scale_x, y - 1.0f, scale_x + (t % 5 == 0 ? 18.0f : 10.0f), y + 1.0f,
                       ink);
        }
        const float level[4] = {0.14f, 0.36f, 0.62f, 0.9f};
        const char* figures[4] = {"128", "256", "512", "1024"};
        const char* words[4] = {"depth", "depth", "deeper", "deeper still"};
        const float y = top + (bottom - top) * level[index];
        const float marker[3][2] = {
            {scale_x + 4.0f, y}, {scale_x + 20.0f, y - 9.0f}, {scale_x + 20.0f, y + 9.0f}};
        shape_polygon(canvas, marker, 3, ink);
        shape_rect(canvas, scale_x + 20.0f, y - 1.5f, screen_width - 16.0f, y + 1.5f, ink);
        // The figure sits above the line, or below it once the line is high on the screen.
        const float size = 84.0f, cap = type_cap_height(font_condensed, size);
        const float base = y > 120.0f ? y - 10.0f : y + 10.0f + cap;
        type_draw(canvas, font_condensed, size, screen_width - 16.0f, base, figures[index], ink,
                  align_right);
        const float word_base = y > 120.0f ? base - cap - 12.0f : base + 28.0f;
        type_draw(canvas, font_light, 22, screen_width - 18.0f, word_base, words[index], ink,
                  align_right, 2.0f);
        counter(canvas, index, 8);
        return;
    }
    if (index < 7) {
        // The opening grows; a thin ring around it marks where it will reach next.
        const float radius[3] = {26.0f, 50.0f, 80.0f};
        const char* words[3] = {"light", "light ahead", "into the light"};
        const float oy = 104.0f, r = radius[index - 4];
        canvas_clear(canvas, ink);
        shape_disc(canvas, cx, oy, r, paper);
        shape_arc(canvas, cx, oy, r + 14.0f, 2.0f, 0.0f, 1.0f, paper);
        type_draw(canvas, font_bold, 30, cx, 222, words[index - 4], paper, align_center, 1.0f);
        counter(canvas, index, 8, paper);
        return;
    }
    // Wide open: only corner brackets and the word, set thin.
    canvas_clear(canvas, paper);
    const float m = 14.0f, arm = 44.0f, w = 6.0f;
    const float corners[4][2] = {{m, m},
                                 {screen_width - m, m},
                                 {m, screen_height - m},
                                 {screen_width - m, screen_height - m}};
    for (const auto& c : corners) {
        const float sx = c[0] < cx ? 1.0f : -1.0f, sy = c[1] < 120.0f ? 1.0f : -1.0f;
        shape_rect(canvas, std::min(c[0], c[0] + sx * arm), std::min(c[1], c[1] + sy * w),
                   std::max(c[0], c[0] + sx * arm), std::max(c[1], c[1] + sy * w), ink);
        shape_rect(canvas, std::min(c[0], c[0] + sx * w), std::min(c[1], c[1] + sy * arm),
                   std::max(c[0], c[0] + sx * w), std::max(c[1], c[1] + sy * arm), ink);
    }
    const float size = fit_size(font_light, "light", 250.0f, 110.0f);
    type_draw(canvas, font_light, size, cx, 120 + type_cap_height(font_light, size) * 0.5f, "light",
              ink, align_center);
}

// Set d, "the way out": the turn, the door, the word cut out, and the line's end.
void draw_set_d(Canvas& canvas, int index) {
    canvas_clear(canvas, paper);
    if (index == 0) {
        // A curved arrow sweeping clockwise over the top; the head follows the circle's tangent.
        const float ax = cx, ay = 126.0f, r = 74.0f, end = 0.22f;
        shape_arc(canvas, ax, ay, r, 18.0f, -0.3f, end, ink);
        const float a = end * 6.2831853f;
        const float px = ax + r * std::sin(a), py = ay - r * std::cos(a);
        const float tx = std::cos(a), ty = std::sin(a);  // clockwise tangent
        const float head[3][2] = {{px + tx * 34.0f, py + ty * 34.0f},
                                  {px - ty * 24.0f, py + tx * 24.0f},
                                  {px + ty * 24.0f, py - tx * 24.0f}};
        shape_polygon(canvas, head, 3, ink);
        type_draw(canvas, font_bold, 34, cx, 226, "the turn", ink, align_center, 1.0f);
        counter(canvas, index, 4);
    } else if (index == 1) {
        // An arrow running into a doorway on the right.
        shape_frame(canvas, 206, 36, 290, 196, 8.0f, ink);
        shape_arrow(canvas, 24, 116, 246, 116, 14.0f, 34.0f, ink);
        type_draw(canvas, font_bold, 28, 24, 224, "the way out", ink, align_left, 1.0f);
        counter(canvas, index, 4);
    } else if (index == 2) {
        shape_rect(canvas, 0, 48, screen_width, 192, ink);
        const float size = fit_size(font_bold, "out", 280.0f, 170.0f, -4.0f);
        type_draw(canvas, font_bold, size, cx, 120 + size * 0.27f, "out", paper, align_center,
                  -4.0f);
        counter(canvas, index, 4);
    } else {
        // Letterbox bars: the tunnel runs on between them for the last bars of music.
        shape_rect(canvas, 0, 0, screen_width, 46, ink);
        shape_rect(canvas, 0, 194, screen_width, screen_height, ink);
        type_draw(canvas, font_mono, 14, cx, 29, "vorta", paper, align_center, 6.0f);
        type_draw(canvas, font_light, 20, cx, 224, "end of the line", paper, align_center, 2.0f);
    }
}

}  // namespace

const MaskSet mask_sets[4] = {
    {4, draw_set_a},
    {4, draw_set_b},
    {8, draw_set_c},
    {4, draw_set_d},
};
