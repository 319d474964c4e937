// The ray grid: fixed camera-space directions, the music-driven camera, and the cylinder hits.
#include "tunnel/rays.h"

#include <cmath>
#include <limits>

#include "tunnel/truncate.h"

Vec3 ray_table[grid_points];
TexCoord uv_grid[grid_points];

namespace {

constexpr double cylinder_radius_sq = 4.0;  // radius 2 around the z axis
// Texture rows per radian: 256 per half turn, deliberately 256 / 3.14159 rather than 256 / π,
// so u reaches 256 (row 0 again) just before the angle reaches π.
constexpr double u_per_radian = 81.4873996925124;
constexpr double v_per_unit = 32.0;  // texture columns per unit of depth

// Narrows to float. A ray almost parallel to the axis meets the cylinder so far away that its
// depth leaves float's range; a plain cast of such a double is undefined, so it becomes ±infinity
// here (NaN stays NaN).
float narrow(double x) {
    constexpr double largest = std::numeric_limits<float>::max();
    if (x > largest) return std::numeric_limits<float>::infinity();
    if (x < -largest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(x);
}

}  // namespace

void rays_init() {
    // 90° across: the screen plane sits at z = −20 and spans x −20..20, y −15..15 (+y is down
    // the screen); directions are left unnormalised, as the hit test does not need unit length.
    for (int j = 0; j < grid_rows; ++j)
        for (int i = 0; i < grid_columns; ++i)
            ray_table[j * grid_columns + i] = {static_cast<float>(i - 20),
                                               static_cast<float>(j - 15), -20.0f};
}

Matrix4 tunnel_camera(float T, std::int32_t K) {
    const double t = T;
    // The eye circles the axis at distance 1 while moving 0.3 along it per row of music.
    const double ex = std::sin(0.001 * t), ey = std::cos(0.001 * t), ez = 0.3 * t;
    const Vec3 eye{static_cast<float>(ex), static_cast<float>(ey), static_cast<float>(ez)};
    const Vec3 target{static_cast<float>(1.5 * std::sin(0.1232 * t) + ex),
                      static_cast<float>(1.5 * std::sin(0.1 * t) + ey),
                      static_cast<float>(2.9 * std::sin(0.1 * t) + ez)};
    // At T = 0 target equals eye and L is NaN; the timeline shows that frame fully black.
    Matrix4 L;
    mat_look_at(L, eye, target, static_cast<float>(0.1 * t));
    // Integer beats as angles: every beat swings the view by a large, irregular step.
    const float k = static_cast<float>(K);
    Matrix4 R;
    mat_rotation_xyz(R, k, 8.0f * k, static_cast<float>(-0.3 * k));
    mat_premultiply(L, R);
    return L;
}

namespace {

// The hit of ray_cylinder_hit, written for the trace's inner loop. With a > 0 and q > 0 the
// smaller root is always t2: its numerator −b − q is below q − b and rounding and the division
// by 2a > 0 keep that order (or make both equal). The fast path takes t2 alone; a zero t2 (whose
// sign could differ from t1's) and every degenerate case go through both roots as before.
inline Vec3 cylinder_hit(Vec3 origin, Vec3 direction) {
    const double ox = origin.x, oy = origin.y, dx = direction.x, dy = direction.y;
    const double a = dx * dx + dy * dy;
    // b is kept at float precision, the rest at double.
    const double b = narrow(2.0 * (ox * dx + oy * dy));
    const double e = ox * ox + oy * oy - cylinder_radius_sq;
    const double q = std::sqrt(b * b - 4.0 * a * e);
    double t = (-b - q) / (2.0 * a);
    if (!(a > 0.0 && q > 0.0 && t != 0.0)) {
        const double t1 = (q - b) / (2.0 * a);
        // The smaller root. From inside the cylinder the roots have opposite signs, so this is
        // the hit BEHIND the origin: the picture is built from it, do not switch to the forward
        // root.
        t = (t < t1) ? t : t1;
    }
    return {narrow(ox + t * dx), narrow(oy + t * dy), narrow(double{origin.z} + t * direction.z)};
}

// atan(z) for |z| ≤ tan(π/8) by its Taylor series up to z^21: the series alternates, so the
// error is below the first term left out, 0.4143^23 / 23 < 7e-11.
inline double atan_small(double z) {
    // 1/n for n = 21, 19, ..., 1: Horner's scheme from the highest term down.
    static constexpr double inverse_odd[11] = {1.0 / 21, 1.0 / 19, 1.0 / 17, 1.0 / 15,
                                               1.0 / 13, 1.0 / 11, 1.0 / 9,  1.0 / 7,
                                               1.0 / 5,  1.0 / 3,  1.0};
    const double z2 = z * z;
    double p = inverse_odd[0];
    for (int i = 1; i < 11; ++i) p = inverse_odd[i] - z2 * p;
    return z * p;
}

// trunc(|atan2(x, y)| × u_per_radian), the same integer as the libm form below for every input.
// The angle comes from a short series (error below 1e-10 rad, so below 1e-8 texture rows);
// only when the product lies within 1e-6 of an integer, where the two could truncate apart,
// or for zeros and non-finite inputs, is libm's atan2 asked instead.
inline std::int32_t u_of(double x, double y) {
    constexpr double pi = 3.14159265358979323846;
    const double ax = std::fabs(x), ay = std::fabs(y);
    if (std::isfinite(ax) && std::isfinite(ay) && (ax > 0.0 || ay > 0.0)) {
        const double lo = ax < ay ? ax : ay, hi = ax < ay ? ay : ax;
        // atan(lo / hi) in 0..π/4; above tan(π/8) through atan(r) = π/4 + atan((r − 1)/(r + 1)).
        double angle =
            lo > 0.41421356 * hi ? pi / 4 + atan_small((lo - hi) / (lo + hi)) : atan_small(lo / hi);
        if (ax > ay) angle = pi / 2 - angle;  // measured from the y axis
        if (y < 0.0) angle = pi - angle;      // folded: the texture is mirrored at ±y
        const double rows = angle * u_per_radian;
        const auto whole = static_cast<std::int32_t>(rows);  // 0..256, rows ≥ 0
        const double fraction = rows - whole;
        if (fraction > 1e-6 && fraction < 1.0 - 1e-6) return whole;
    }
    // trunc_i32 maps the NaNs of a degenerate camera or an axis-parallel ray (a = 0) to
    // INT32_MIN instead of undefined behaviour; the mapper copes with any value.
    return trunc_i32(std::fabs(std::atan2(x, y)) * u_per_radian);
}

}  // namespace

Vec3 ray_cylinder_hit(Vec3 origin, Vec3 direction) {
    return cylinder_hit(origin, direction);
}

void tunnel_trace(const Matrix4& M) {
    const Vec3 origin{M.m[12], M.m[13], M.m[14]};
    for (int k = 0; k < grid_points; ++k) {
        const Vec3 d = vec_transform_dir(M, ray_table[k]);
        const Vec3 p = cylinder_hit(origin, d);
        // Angle from +y towards +x, folded to 0..π: the texture is mirrored at the ±y axis.
        uv_grid[k] = {u_of(p.x, p.y), trunc_i32(double{p.z} * v_per_unit)};
    }
}
