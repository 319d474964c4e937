// The closing picture: a dusk sky over a horizon, the tunnel's mouth glowing on it, the title.
#include <algorithm>
#include <cmath>

#include "tools/masks/pictures.h"
#include "tools/masks/type.h"

namespace {

Rgb mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Colour of the sky at height y above the horizon line `horizon`: night blue at the top,
// violet, then a warm band at the horizon.
Rgb sky(float y, float horizon) {
    const Rgb top{0.03f, 0.03f, 0.12f}, middle{0.30f, 0.08f, 0.38f}, low{1.0f, 0.50f, 0.22f};
    const float t = std::clamp(y / horizon, 0.0f, 1.0f);
    return t < 0.6f ? mix(top, middle, t / 0.6f) : mix(middle, low, (t - 0.6f) / 0.4f);
}

}  // namespace

void end_picture_draw(Canvas& canvas) {
    const float horizon = 150.0f, mouth_x = 160.0f, mouth_y = 118.0f;
    for (int y = 0; y < screen_height; ++y) {
        for (int x = 0; x < screen_width; ++x) {
            const int i = y * screen_width + x;
            Rgb c;
            if (y < horizon) {
                c = sky(y + 0.5f, horizon);
            } else {
                // Ground: dark, lit a little near the horizon.
                const float t = std::clamp((y - horizon) / (screen_height - horizon), 0.0f, 1.0f);
                c = mix(Rgb{0.22f, 0.06f, 0.16f}, Rgb{0.02f, 0.01f, 0.04f}, std::sqrt(t));
            }
            canvas.r[i] = c.r;
            canvas.g[i] = c.g;
            canvas.b[i] = c.b;
        }
    }
    // Ground lines running to the mouth, to give the flat floor its depth.
    for (int k = -7; k <= 7; ++k) {
        const float far_x = mouth_x + k * 6.0f;
        shape_line(canvas, far_x, horizon, mouth_x + k * 64.0f, screen_height + 4.0f, 1.2f,
                   Rgb{0.55f, 0.18f, 0.35f});
    }
    for (int k = 1; k <= 5; ++k) {
        // Cross lines closer together toward the horizon, as on a receding plane.
        const float y = horizon + (screen_height - horizon) * (k * k) / 25.0f;
        shape_rect(canvas, 0, y - 0.5f, screen_width, y + 0.5f, Rgb{0.45f, 0.14f, 0.30f});
    }
    // The tunnel's mouth: rings shrinking toward a bright centre, warmer as they get deeper.
    float radius = 96.0f;
    for (int k = 0; k < 9; ++k) {
        const float t = k / 8.0f;
        const Rgb ring = mix(Rgb{0.62f, 0.16f, 0.70f}, Rgb{1.0f, 0.70f, 0.30f}, t);
        shape_disc(canvas, mouth_x, mouth_y, radius,
                   mix(Rgb{0.06f, 0.02f, 0.12f}, ring, 0.25f + 0.4f * t));
        shape_arc(canvas, mouth_x, mouth_y, radius - 2.0f, 4.0f - 2.0f * t, 0.0f, 1.0f, ring);
        radius *= 0.78f;
    }
    // Light pouring out of the mouth: a soft glow added over everything.
    for (int y = 0; y < screen_height; ++y) {
        for (int x = 0; x < screen_width; ++x) {
            const float dx = x + 0.5f - mouth_x, dy = y + 0.5f - mouth_y;
            const float d2 = dx * dx + dy * dy;
            const float glow = std::exp(-d2 / (2.0f * 11.0f * 11.0f)) +
                               0.18f * std::exp(-d2 / (2.0f * 50.0f * 50.0f));
            canvas_mix(canvas, y * screen_width + x, Rgb{1.0f, 0.95f, 0.85f}, std::min(glow, 1.0f));
        }
    }
    // The title large across the lower part, with a shadow to lift it off the ground.
    const float size = 92.0f;
    type_draw(canvas, font_bold, size, 163, 213, "vorta", Rgb{0.06f, 0.01f, 0.08f}, align_center,
              -2.0f);
    type_draw(canvas, font_bold, size, 160, 210, "vorta", Rgb{1.0f, 0.93f, 0.82f}, align_center,
              -2.0f);
    type_draw(canvas, font_light, 13, 160, 232, "the way out", Rgb{1.0f, 0.85f, 0.70f},
              align_center, 4.0f);
}
