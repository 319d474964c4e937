// Periodic gradient noise: a hashed lattice whose coordinates wrap, quintic interpolation.
#include "tools/textures/noise.h"

#include <cmath>

std::uint32_t tex_hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    // Finaliser of a common 32-bit mixer: every input bit affects every output bit.
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

namespace {

// Eight unit gradients; a table rather than sin/cos keeps the output identical on every platform.
constexpr double diag = 0.70710678118654752;
constexpr double grad_x[8] = {1, -1, 0, 0, diag, -diag, diag, -diag};
constexpr double grad_y[8] = {0, 0, 1, -1, diag, diag, -diag, -diag};

double fade(double t) {
    return t * t * t * (t * (t * 6 - 15) + 10);
}

double corner(int ix, int iy, int period, std::uint32_t seed, double dx, double dy) {
    // Wrapping the lattice index is what makes the noise tile.
    const std::uint32_t g = tex_hash(static_cast<std::uint32_t>(ix % period),
                                     static_cast<std::uint32_t>(iy % period), seed) &
                            7u;
    return grad_x[g] * dx + grad_y[g] * dy;
}

}  // namespace

double tex_noise(double x, double y, int period, std::uint32_t seed) {
    const double cell = 256.0 / period;
    const double gx = x / cell, gy = y / cell;
    const double fx0 = std::floor(gx), fy0 = std::floor(gy);
    // Indices made non-negative first, so % period wraps negative coordinates correctly too.
    const int ix = static_cast<int>(fx0) % period + period,
              iy = static_cast<int>(fy0) % period + period;
    const double dx = gx - fx0, dy = gy - fy0;
    const double n00 = corner(ix, iy, period, seed, dx, dy);
    const double n10 = corner(ix + 1, iy, period, seed, dx - 1, dy);
    const double n01 = corner(ix, iy + 1, period, seed, dx, dy - 1);
    const double n11 = corner(ix + 1, iy + 1, period, seed, dx - 1, dy - 1);
    const double sx = fade(dx), sy = fade(dy);
    const double top = n00 + (n10 - n00) * sx, bottom = n01 + (n11 - n01) * sx;
    // The raw range is about ±0.7; scale it to about ±1.
    return 1.4 * (top + (bottom - top) * sy);
}

double tex_fbm(double x, double y, int base_period, int octaves, std::uint32_t seed) {
    double sum = 0, amplitude = 1, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * tex_noise(x, y, base_period << o, seed + 101u * o);
        total += amplitude;
        amplitude *= 0.5;
    }
    return sum / total;
}

double tex_dist_periodic(double t, double spacing) {
    const double r = t - spacing * std::floor(t / spacing);
    return r < spacing - r ? r : spacing - r;
}
