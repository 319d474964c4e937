// Camera and ray grid: hand-worked cases, and tunnel_trace over the whole song against an
// independent double-precision model of the camera, the hit and the coordinates. Every frame is
// also drawn, so sanitizer builds cover the whole path.
#include "tunnel/rays.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <tuple>

#include "tunnel/mapper.h"

namespace {

TEST(TunnelRays, LookAtDownTheAxisFromOffsetEye) {
    Matrix4 M;
    mat_look_at(M, {0, 1, 0}, {0, 1, 1}, 0);
    // f = (0,0,1), up = (0,−1,0), s = up × f = (−1,0,0), u = s × f = (0,1,0), as columns.
    const float want[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 1, 0, 1};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(M.m[i], want[i]) << "element " << i;
}

TEST(TunnelRays, TableCorners) {
    rays_init();
    // {column, row, x, y}; z is always −20. (40, 0) shows the table is not transposed.
    const int cases[][4] = {{0, 0, -20, -15}, {40, 30, 20, 15}, {20, 15, 0, 0}, {40, 0, 20, -15}};
    for (const auto& [i, j, x, y] : cases) {
        const Vec3 d = ray_table[j * grid_columns + i];
        EXPECT_TRUE(d.x == x && d.y == y && d.z == -20.0f) << i << "," << j;
    }
}

TEST(TunnelRays, TraceOppositeWallGivesU256) {
    rays_init();
    // Eye at (0, 1, 0), turned so the centre ray d = (0, 20, 0) points along +y: the hit taken is
    // the one behind the eye, (0, −2, 0), at angle π: u = trunc(256.0008) = 256, v = 0. One row
    // lower d = (0, 20, 1) hits (0, −2, −0.15): v = trunc(−4.8) = −4 (toward zero).
    Matrix4 M;
    mat_translation(M, 0, 1, 0);
    M.m[5] = 0, M.m[6] = 1;    // row 1 = (0, 0, 1)
    M.m[9] = -1, M.m[10] = 0;  // row 2 = (0, −1, 0)
    tunnel_trace(M);
    const TexCoord centre = uv_grid[15 * grid_columns + 20],
                   below = uv_grid[16 * grid_columns + 20];
    EXPECT_EQ(centre.u, 256);
    EXPECT_EQ(centre.v, 0);
    EXPECT_EQ(below.u, 256);
    EXPECT_EQ(below.v, -4);
}

// The model computes in double and rounds to float only where the renderer keeps a value in a
// 32-bit float (vectors, matrix entries, b, the hit point); everything else stays double.
constexpr auto f32 = [](double x) -> double { return static_cast<float>(x); };

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
void model_frame(double T, int K, Products* out) {
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
    for (int k = 0; k < grid_points; ++k) {
        const double rx = k % grid_columns - 20, ry = k / grid_columns - 15, rz = -20;
        const D3 d{f32(rx * M[0][0] + ry * M[1][0] + rz * M[2][0]),
                   f32(rx * M[0][1] + ry * M[1][1] + rz * M[2][1]),
                   f32(rx * M[0][2] + ry * M[1][2] + rz * M[2][2])};
        // Solve |(eye + t·d)_xy|² = 4 for the smaller t.
        const double qa = d.x * d.x + d.y * d.y;
        const double qb = f32(2 * (eye.x * d.x + eye.y * d.y));
        const double qc = eye.x * eye.x + eye.y * eye.y - 4;
        const double t = (-qb - std::sqrt(qb * qb - 4 * qa * qc)) / (2 * qa);
        const double px = f32(eye.x + t * d.x), py = f32(eye.y + t * d.y);
        const double pz = f32(eye.z + t * d.z);
        // A ray close to the axis meets the wall far away (reach R) and at a grazing angle: a
        // last-bit change in its direction moves the hit by about R² times as much along the
        // axis, and by about R times as much around it.
        const double reach = std::abs(t) * std::hypot(d.x, d.y, d.z);
        constexpr double eps = 4.0 / (1 << 24);  // a few float roundings
        out[k] = {std::abs(std::atan2(px, py)) * (256 / 3.14159), pz * 32, 81.5 * eps * (4 + reach),
                  32 * eps * (std::abs(pz) + reach * reach)};
    }
}

// The model's truncation: toward zero, and INT32_MIN for anything an int32 cannot hold, which is
// what the x86 conversion gives.
std::int32_t model_trunc(double x) {
    if (std::isnan(x) || x <= -2147483649.0 || x >= 2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(x);
}

TEST(TunnelTraceModel, WholeSongAgreesWithDoubleModel) {
    rays_init();
    static Pixel32 frame[screen_pixels], texture[256 * 256];  // exact size: ASan sees overreads
    static Products model[grid_points];
    long compared = 0, borderline = 0;
    // Song time runs 0..2560 (20 orders × 128); beat counts up to a few dozen, plus large ones.
    const int beats[] = {0, 1, 2, 5, 12, 24, 37, 48, 61, 250, 4097};
    int n = 0;
    for (float T = 0.0f; T < 2600.0f; T += 3.71f, ++n) {
        for (const float t : {T, std::floor(T)}) {  // whole rows too: the eye's exact grid times
            const int K = beats[n % 11];
            tunnel_trace(tunnel_camera(t, K));
            tunnel_draw(frame, texture);
            if (t == 0.0f) {  // target on eye: a NaN camera, every point INT32_MIN
                for (const TexCoord c : uv_grid) ASSERT_TRUE(c.u == INT32_MIN && c.v == INT32_MIN);
                continue;
            }
            model_frame(t, K, model);
            for (int k = 0; k < grid_points; ++k) {
                ++compared;
                const Products& m = model[k];
                for (const auto& [want, tol, have] : {std::tuple{m.u, m.u_tol, uv_grid[k].u},
                                                      std::tuple{m.v, m.v_tol, uv_grid[k].v}}) {
                    if (have == model_trunc(want)) continue;
                    // Only a product within rounding of an integer may truncate differently.
                    ASSERT_LE(std::abs(want - std::round(want)), tol)
                        << "T " << t << " K " << K << " point " << k << ": model " << want
                        << ", traced " << have;
                    ++borderline;
                }
            }
        }
    }
    EXPECT_GT(compared, 1000000);
    EXPECT_LT(borderline, compared / 10000);  // the exceptions stay rare
}

}  // namespace
