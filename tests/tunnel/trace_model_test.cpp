// tunnel_trace over the whole song against an independent double-precision model of the camera,
// the hit and the coordinates; every frame is also drawn, so sanitizer builds cover the path.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <vector>

#include "tunnel/mapper.h"
#include "tunnel/rays.h"

namespace {

// The model computes in double and rounds to float only where the renderer keeps a value in a
// 32-bit float (vectors, matrix entries, b, the hit point); everything else stays double.
double f32(double x) {
    return static_cast<float>(x);
}

struct D3 {
    double x, y, z;
};

D3 unit(D3 a) {
    const double n = std::hypot(a.x, a.y, a.z);
    return {a.x / n, a.y / n, a.z / n};
}

D3 cross(D3 a, D3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

struct Products {
    double u, v;          // before truncation
    double u_tol, v_tol;  // how far either may move when a stored float differs in its last bit
};

// Fills out[] with the model's u and v products for every grid point.
void model_frame(float T_in, int K, Products* out) {
    const double T = T_in;
    const D3 eye{f32(std::sin(0.001 * T)), f32(std::cos(0.001 * T)), f32(0.3 * T)};
    const D3 target{f32(1.5 * std::sin(0.1232 * T) + std::sin(0.001 * T)),
                    f32(1.5 * std::sin(0.1 * T) + std::cos(0.001 * T)),
                    f32(2.9 * std::sin(0.1 * T) + 0.3 * T)};
    const double roll = f32(0.1 * T);
    const D3 f = unit({target.x - eye.x, target.y - eye.y, target.z - eye.z});
    const D3 s = unit(cross({std::sin(roll), -std::cos(roll), 0}, f));
    const D3 u = unit(cross(s, f));
    // View matrix L (3×3, columns s, u, f) and the beat rotation R, both rounded as stored.
    const double L[3][3] = {{f32(s.x), f32(u.x), f32(f.x)},
                            {f32(s.y), f32(u.y), f32(f.y)},
                            {f32(s.z), f32(u.z), f32(f.z)}};
    const double a = K, b = f32(8.0 * K), c = f32(-0.3 * K);
    const double sa = std::sin(a), ca = std::cos(a), sb = std::sin(b), cb = std::cos(b);
    const double sc = std::sin(c), cc = std::cos(c);
    const double R[3][3] = {
        {f32(cb * cc), f32(cb * sc), f32(-sb)},
        {f32(sa * sb * cc - ca * sc), f32(sa * sb * sc + ca * cc), f32(sa * cb)},
        {f32(ca * sb * cc + sa * sc), f32(ca * sb * sc - sa * cc), f32(ca * cb)}};
    double M[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            M[i][j] = f32(R[i][0] * L[0][j] + R[i][1] * L[1][j] + R[i][2] * L[2][j]);
    for (int row = 0; row < grid_rows; ++row) {
        for (int col = 0; col < grid_columns; ++col) {
            const double rx = col - 20, ry = row - 15, rz = -20;
            D3 d;
            d.x = f32(rx * M[0][0] + ry * M[1][0] + rz * M[2][0]);
            d.y = f32(rx * M[0][1] + ry * M[1][1] + rz * M[2][1]);
            d.z = f32(rx * M[0][2] + ry * M[1][2] + rz * M[2][2]);
            // Solve |(eye + t·d)_xy|² = 4 for the smaller t.
            const double qa = d.x * d.x + d.y * d.y;
            const double qb = f32(2 * (eye.x * d.x + eye.y * d.y));
            const double qc = eye.x * eye.x + eye.y * eye.y - 4;
            const double t = (-qb - std::sqrt(qb * qb - 4 * qa * qc)) / (2 * qa);
            const double px = f32(eye.x + t * d.x), py = f32(eye.y + t * d.y);
            const double pz = f32(eye.z + t * d.z);
            // A ray close to the axis meets the wall far away (reach R) and at a grazing angle:
            // a last-bit change in its direction moves the hit by about R² times as much along
            // the axis, and by about R times as much around it.
            const double reach = std::abs(t) * std::hypot(d.x, d.y, d.z);
            constexpr double eps = 4.0 / (1 << 24);  // a few float roundings
            out[row * grid_columns + col] = {std::abs(std::atan2(px, py)) * (256 / 3.14159),
                                             pz * 32, 81.5 * eps * (4 + reach),
                                             32 * eps * (std::abs(pz) + reach * reach)};
        }
    }
}

// The model's truncation: toward zero, and INT32_MIN for anything an int32 cannot hold, which is
// what the x86 conversion gives.
std::int32_t model_trunc(double x) {
    if (std::isnan(x) || x <= -2147483649.0 || x >= 2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(x);
}

// True when x lies within tol of an integer, where its truncation depends on rounding.
bool near_integer(double x, double tol) {
    return std::abs(x - std::round(x)) <= tol;
}

TEST(TunnelTraceModel, WholeSongAgreesWithDoubleModel) {
    rays_init();
    static Pixel32 frame[screen_pixels];
    std::vector<Pixel32> texture(256 * 256);  // exact size: ASan reports any read past it
    for (int i = 0; i < 256 * 256; ++i) texture[i] = static_cast<Pixel32>(i);
    static Products model[grid_points];
    long compared = 0, borderline = 0;
    // Song time runs 0..2560 (20 orders × 128); beat counts up to a few dozen, plus large ones.
    const int beats[] = {0, 1, 2, 5, 12, 24, 37, 48, 61, 250, 4097};
    int n = 0;
    for (float T = 0.0f; T < 2600.0f; T += 3.71f, ++n) {
        const float times[] = {T, std::floor(T)};  // whole rows too: the eye's exact grid times
        for (const float t : times) {
            const int K = beats[n % 11];
            const Matrix4 M = tunnel_camera(t, K);
            tunnel_trace(M);
            tunnel_draw(frame, texture.data());
            if (t == 0.0f) continue;  // not finite: covered by TunnelRays
            model_frame(t, K, model);
            for (int k = 0; k < grid_points; ++k) {
                ++compared;
                const TexCoord got = uv_grid[k];
                const Products& m = model[k];
                for (const auto& [want, tol, have] :
                     {std::tuple{m.u, m.u_tol, got.u}, std::tuple{m.v, m.v_tol, got.v}}) {
                    if (have == model_trunc(want)) continue;
                    ASSERT_TRUE(near_integer(want, tol))
                        << "T " << t << " K " << K << " point " << k << ": model " << want
                        << ", traced " << have;
                    ++borderline;
                }
            }
        }
    }
    EXPECT_GT(compared, 1000000);
    EXPECT_LT(borderline, compared / 10000);  // the exceptions stay rare
    std::printf("%ld grid points compared, %ld within rounding of an integer\n", compared,
                borderline);
}

}  // namespace
