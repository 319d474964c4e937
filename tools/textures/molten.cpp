// Texture of the first half: dark cooling rock cut by glowing veins, with rings of fire along
// the depth that give the flight its speed.
#include <cmath>

#include "tools/textures/noise.h"
#include "tools/textures/textures.h"

Pixel32 tex_rgb(double r, double g, double b) {
    auto byte = [](double c) -> Pixel32 {
        c = c < 0 ? 0 : (c > 1 ? 1 : c);
        return static_cast<Pixel32>(c * 255.0 + 0.5);
    };
    return byte(r) << 16 | byte(g) << 8 | byte(b);
}

namespace {

// Black-body-like ramp from cold rock (0) through red and orange to yellow-white heat (1).
Pixel32 heat_colour(double h) {
    constexpr int stops = 6;
    constexpr double ramp[stops][3] = {{0.03, 0.01, 0.01}, {0.22, 0.06, 0.03}, {0.55, 0.10, 0.02},
                                       {0.90, 0.32, 0.03}, {1.00, 0.70, 0.18}, {1.00, 0.95, 0.75}};
    h = h < 0 ? 0 : (h > 1 ? 1 : h);
    const double x = h * (stops - 1);
    const int i = x >= stops - 1 ? stops - 2 : static_cast<int>(x);
    const double f = x - i;
    return tex_rgb(ramp[i][0] + (ramp[i + 1][0] - ramp[i][0]) * f,
                   ramp[i][1] + (ramp[i + 1][1] - ramp[i][1]) * f,
                   ramp[i][2] + (ramp[i + 1][2] - ramp[i][2]) * f);
}

}  // namespace

void tex_paint_molten(Pixel32* out) {
    for (int u = 0; u < tex_size; ++u) {
        for (int v = 0; v < tex_size; ++v) {
            const double x = v, y = u;  // noise x runs along the depth, y around the tunnel
            // Rock: broad light and dark crusts plus fine grain, visible even when magnified.
            const double rock = tex_fbm(x, y, 4, 5, 11);
            const double grain = tex_noise(x, y, 64, 12);
            // Veins: the zero lines of a warped noise, sharpened into thin glowing cracks.
            const double wx = x + 14 * tex_fbm(x, y, 4, 3, 21);
            const double wy = y + 14 * tex_fbm(x, y, 4, 3, 22);
            const double ridge = 1 - std::fabs(tex_fbm(wx, wy, 8, 3, 23));
            const double vein = std::pow(ridge, 10);
            // Rings: a glowing band every 64 columns (4 per tile), wobbling with the angle.
            const double wobble = 6 * tex_noise(0, y, 8, 31) + 3 * tex_noise(x, y, 16, 32);
            const double d = tex_dist_periodic(x + wobble, 64);
            const double ring = std::exp(-d * d / 18.0) * (0.75 + 0.25 * tex_noise(x, y, 32, 33));
            // Dark seams bordering each ring make it stand out against the glowing rock.
            const double shadow = 0.35 * std::exp(-(d - 7) * (d - 7) / 6.0);
            const double heat =
                0.20 + 0.16 * rock + 0.05 * grain + 0.75 * vein + 0.85 * ring - shadow;
            out[u * tex_size + v] = heat_colour(heat);
        }
    }
}
