// Texture of the second half: bevelled steel panels, some carrying circuit traces, others vents,
// framed by cyan light strips; bright rings along the depth give the speed.
#include <cmath>

#include "tools/textures/noise.h"
#include "tools/textures/textures.h"

namespace {

constexpr int panel = 32;         // panel size in texels, 8 × 8 panels per tile
constexpr int panel_offset = 16;  // seams at 16 mod 32, so the tile's own edges run mid-panel
constexpr int trace_cell = 4;     // circuit routing grid inside a panel
constexpr int trace_cells = tex_size / trace_cell;  // routing cells per tile side

struct Rgb {
    double r, g, b;
};

// Hash of a routing cell, its coordinates wrapped so the traces run on across the tile's edges.
std::uint32_t cell_hash(int cu, int cv, std::uint32_t seed) {
    const auto wrap = [](int c) {
        return static_cast<std::uint32_t>((c + trace_cells) % trace_cells);
    };
    return tex_hash(wrap(cu), wrap(cv), seed);
}

// Circuit traces: each 4 × 4 routing cell may join its centre to the right and to the cell below;
// pads sit on some cell centres. Returns 1 on a trace, 2 on a pad, 0 elsewhere.
int circuit_at(int u, int v, std::uint32_t seed) {
    const int cu = u / trace_cell, cv = v / trace_cell;  // routing cell
    const int lu = u % trace_cell, lv = v % trace_cell;  // position inside it; centre is (1, 1)
    const std::uint32_t h = cell_hash(cu, cv, seed);
    const bool pad = (h & 15u) == 0;
    if (pad && lu <= 2 && lv <= 2) return 2;
    const bool right = (h >> 4 & 3u) != 0, down = (h >> 6 & 3u) == 0;
    // A cell also shows the halves of its neighbours' links into it.
    const bool from_left = (cell_hash(cu, cv - 1, seed) >> 4 & 3u) != 0;
    const bool from_up = (cell_hash(cu - 1, cv, seed) >> 6 & 3u) == 0;
    if (lu == 1 && ((lv >= 1 && right) || (lv <= 1 && from_left))) return 1;
    if (lv == 1 && ((lu >= 1 && down) || (lu <= 1 && from_up))) return 1;
    return 0;
}

}  // namespace

void tex_paint_circuit(Pixel32* out) {
    for (int u = 0; u < tex_size; ++u) {
        for (int v = 0; v < tex_size; ++v) {
            // Panel coordinates: which panel, and where inside it (0..31, seam at 0).
            const int su = (u + panel_offset) % tex_size, sv = (v + panel_offset) % tex_size;
            const int pu = su / panel, pv = sv / panel, lu = su % panel, lv = sv % panel;
            const auto panel_hash = [&](std::uint32_t seed) {
                return tex_hash(static_cast<std::uint32_t>(pu), static_cast<std::uint32_t>(pv),
                                seed);
            };
            // Kind of panel: 0 circuit, 1 vent, 2 indicator strip, 3 plain.
            const std::uint32_t kind = panel_hash(7) % 4;
            const double shade = 0.30 + 0.03 * (panel_hash(8) % 5);
            // Brushed metal: fine streaks along the depth, plus faint grime.
            const double brush = 0.05 * tex_noise(v, u, 128, 41) * tex_noise(v, u, 8, 42);
            const double grime = 0.10 * tex_fbm(v, u, 4, 4, 43);
            double lum = shade + brush + grime;
            Rgb glow{0, 0, 0};
            const int inner_u = lu - 3, inner_v = lv - 3;  // panel face without its frame
            const bool inside =
                inner_u >= 0 && inner_u < panel - 5 && inner_v >= 0 && inner_v < panel - 5;
            if (kind == 0 && inside) {
                // Circuit board: dark green-blue with cyan traces and bright pads.
                lum = 0.12 + 0.5 * grime;
                const int c = circuit_at(u, v, 51 + pu * 8 + pv);
                if (c == 1) glow = {0.10, 0.75, 0.85};
                if (c == 2) glow = {0.55, 0.95, 1.00};
            } else if (kind == 1 && inside) {
                // Vent: slats across the depth, dark gaps between them.
                lum *= ((lv + 1) % 4 < 2) ? 0.45 : 1.15;  // slats straddle no tile edge
            } else if (kind == 2 && inside && inner_u > 9 && inner_u < 17) {
                // Indicator strip along the depth on some panels.
                const double pulse = 0.6 + 0.4 * tex_noise(v, u, 32, 61);
                glow = {0.05 * pulse, 0.35 * pulse, 0.95 * pulse};
            }
            // Bevel: lit top and left edges, shaded bottom and right, dark seam at 0.
            if (lu == 1 || lv == 1) lum += 0.18;
            if (lu == panel - 1 || lv == panel - 1) lum -= 0.15;
            if (lu == 0 || lv == 0) lum = 0.04;
            // Light strips in the seams: a cyan line along the depth every 64 rows, and a
            // white-cyan ring around the tunnel every 64 columns, each with a soft glow.
            const double du = tex_dist_periodic(u - panel_offset + 0.5, 64);
            const double dv = tex_dist_periodic(v - panel_offset + 0.5, 64);
            const double strip = std::exp(-du * du / 3.0), ring = std::exp(-dv * dv / 5.0);
            glow.r += 0.10 * strip + 0.75 * ring;
            glow.g += 0.70 * strip + 0.95 * ring;
            glow.b += 0.90 * strip + 1.00 * ring;
            // Cold steel: blue-grey base, glow added on top.
            out[u * tex_size + v] =
                tex_rgb(0.55 * lum + glow.r, 0.72 * lum + glow.g, 1.0 * lum + glow.b);
        }
    }
}
