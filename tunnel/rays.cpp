// The ray grid: fixed camera-space directions, the music-driven camera, and the cylinder hits.
#include "tunnel/rays.h"

#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The four-ray trace is compiled for every x86 build with GCC or Clang and runs only where the
// processor reports AVX2.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define TRACE_AVX2 1
#include <immintrin.h>
#endif

#include "common/truncate.h"

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
// 1/n for n = 21, 19, ..., 1: Horner's scheme from the highest term down.
constexpr double inverse_odd[11] = {1.0 / 21, 1.0 / 19, 1.0 / 17, 1.0 / 15, 1.0 / 13, 1.0 / 11,
                                    1.0 / 9,  1.0 / 7,  1.0 / 5,  1.0 / 3,  1.0};

inline double atan_small(double z) {
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

// One grid point by the scalar path.
inline TexCoord trace_point(const Matrix4& M, Vec3 origin, int k) {
    const Vec3 d = vec_transform_dir(M, ray_table[k]);
    const Vec3 p = cylinder_hit(origin, d);
    // Angle from +y towards +x, folded to 0..π: the texture is mirrored at the ±y axis.
    return {u_of(p.x, p.y), trunc_i32(double{p.z} * v_per_unit)};
}

#if defined(__SSE2__)
// Two rays per register: the same double operations in the same order as the scalar path, so
// every lane rounds exactly as cylinder_hit does; the angle by the same series. A lane that the
// scalar path would treat specially (a degenerate hit, a value float cannot hold, a row product
// near an integer, a depth beyond int32) is redone by trace_point. Returns the points done.
int trace_sse2(const Matrix4& M, Vec3 origin) {
    constexpr double pi = 3.14159265358979323846;
    const auto all = [](double x) { return _mm_set1_pd(x); };
    const auto select = [](__m128d m, __m128d yes, __m128d no) {
        return _mm_or_pd(_mm_and_pd(m, yes), _mm_andnot_pd(m, no));
    };
    const auto to_float = [](__m128d x) { return _mm_cvtps_pd(_mm_cvtpd_ps(x)); };
    const __m128d sign = all(-0.0), float_max = all(std::numeric_limits<float>::max());
    // True in lanes where narrow() would not be a plain rounding to float (also for NaN).
    const auto beyond_float = [&](__m128d x) {
        return _mm_cmpnle_pd(_mm_andnot_pd(sign, x), float_max);
    };
    const double ox = origin.x, oy = origin.y, oz = origin.z;
    const __m128d m0 = all(M.m[0]), m1 = all(M.m[1]), m2 = all(M.m[2]), m4 = all(M.m[4]),
                  m5 = all(M.m[5]), m6 = all(M.m[6]), m8 = all(M.m[8]), m9 = all(M.m[9]),
                  m10 = all(M.m[10]);
    const __m128d vox = all(ox), voy = all(oy), voz = all(oz);
    const __m128d e = all(ox * ox + oy * oy - cylinder_radius_sq);
    int k = 0;
    for (; k + 2 <= grid_points; k += 2) {
        const Vec3 r0 = ray_table[k], r1 = ray_table[k + 1];
        const __m128d x = _mm_setr_pd(r0.x, r1.x), y = _mm_setr_pd(r0.y, r1.y),
                      z = _mm_setr_pd(r0.z, r1.z);
        const auto dot = [&](__m128d a0, __m128d a1, __m128d a2) {
            return to_float(
                _mm_add_pd(_mm_add_pd(_mm_mul_pd(x, a0), _mm_mul_pd(y, a1)), _mm_mul_pd(z, a2)));
        };
        const __m128d dx = dot(m0, m4, m8), dy = dot(m1, m5, m9), dz = dot(m2, m6, m10);
        const __m128d a = _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
        const __m128d b2 =
            _mm_mul_pd(all(2.0), _mm_add_pd(_mm_mul_pd(vox, dx), _mm_mul_pd(voy, dy)));
        __m128d odd = beyond_float(b2);
        const __m128d b = to_float(b2);
        const __m128d q =
            _mm_sqrt_pd(_mm_sub_pd(_mm_mul_pd(b, b), _mm_mul_pd(_mm_mul_pd(all(4.0), a), e)));
        const __m128d t = _mm_div_pd(_mm_sub_pd(_mm_xor_pd(b, sign), q), _mm_mul_pd(all(2.0), a));
        // The scalar path's condition for taking t2 alone, negated: NaNs land here too.
        odd = _mm_or_pd(odd, _mm_cmpngt_pd(a, _mm_setzero_pd()));
        odd = _mm_or_pd(odd, _mm_cmpngt_pd(q, _mm_setzero_pd()));
        odd = _mm_or_pd(odd, _mm_cmpeq_pd(t, _mm_setzero_pd()));
        const __m128d px2 = _mm_add_pd(vox, _mm_mul_pd(t, dx));
        const __m128d py2 = _mm_add_pd(voy, _mm_mul_pd(t, dy));
        const __m128d pz2 = _mm_add_pd(voz, _mm_mul_pd(t, dz));
        odd = _mm_or_pd(odd, _mm_or_pd(beyond_float(px2), beyond_float(py2)));
        odd = _mm_or_pd(odd, beyond_float(pz2));
        const __m128d px = to_float(px2), py = to_float(py2), pz = to_float(pz2);

        // v: the depth in texture columns, truncated; beyond ±2^31 the scalar path decides.
        const __m128d depth = _mm_mul_pd(pz, all(v_per_unit));
        odd = _mm_or_pd(odd, _mm_cmpnlt_pd(_mm_andnot_pd(sign, depth), all(2147483648.0)));
        const __m128i v = _mm_cvttpd_epi32(depth);

        // u: as u_of, one division for both reductions.
        const __m128d ax = _mm_andnot_pd(sign, px), ay = _mm_andnot_pd(sign, py);
        const __m128d lo = _mm_min_pd(ax, ay), hi = _mm_max_pd(ax, ay);
        odd = _mm_or_pd(odd, _mm_cmpeq_pd(hi, _mm_setzero_pd()));
        const __m128d wide = _mm_cmpgt_pd(lo, _mm_mul_pd(all(0.41421356), hi));
        const __m128d ratio =
            _mm_div_pd(select(wide, _mm_sub_pd(lo, hi), lo), select(wide, _mm_add_pd(lo, hi), hi));
        const __m128d z2 = _mm_mul_pd(ratio, ratio);
        __m128d series = all(inverse_odd[0]);
        for (int i = 1; i < 11; ++i)
            series = _mm_sub_pd(all(inverse_odd[i]), _mm_mul_pd(z2, series));
        __m128d angle = _mm_add_pd(_mm_and_pd(wide, all(pi / 4)), _mm_mul_pd(ratio, series));
        angle = select(_mm_cmpgt_pd(ax, ay), _mm_sub_pd(all(pi / 2), angle), angle);
        angle = select(_mm_cmplt_pd(py, _mm_setzero_pd()), _mm_sub_pd(all(pi), angle), angle);
        const __m128d rows = _mm_mul_pd(angle, all(u_per_radian));
        const __m128i u = _mm_cvttpd_epi32(rows);
        const __m128d fraction = _mm_sub_pd(rows, _mm_cvtepi32_pd(u));
        odd = _mm_or_pd(odd, _mm_cmpngt_pd(fraction, all(1e-6)));
        odd = _mm_or_pd(odd, _mm_cmpnlt_pd(fraction, all(1.0 - 1e-6)));

        const int redo = _mm_movemask_pd(odd);
        const __m128i uv = _mm_unpacklo_epi32(u, v);  // u0, v0, u1, v1
        _mm_storeu_si128(reinterpret_cast<__m128i*>(uv_grid + k), uv);
        if (redo & 1) uv_grid[k] = trace_point(M, origin, k);
        if (redo & 2) uv_grid[k + 1] = trace_point(M, origin, k + 1);
    }
    return k;
}
#endif

#if defined(TRACE_AVX2)
// trace_sse2 on four rays per register, operation for operation: AVX without FMA (the target
// leaves it out, so no multiply-add can fuse and round differently). Returns the points done.
__attribute__((target("avx2"))) int trace_avx2(const Matrix4& M, Vec3 origin) {
    constexpr double pi = 3.14159265358979323846;
    const auto all = [&](double x) __attribute__((target("avx2"))) {
        return _mm256_set1_pd(x);
    };
    const auto select = [&](__m256d m, __m256d yes, __m256d no) __attribute__((target("avx2"))) {
        return _mm256_blendv_pd(no, yes, m);
    };
    const auto to_float = [&](__m256d x) __attribute__((target("avx2"))) {
        return _mm256_cvtps_pd(_mm256_cvtpd_ps(x));
    };
    const __m256d sign = all(-0.0), float_max = all(std::numeric_limits<float>::max());
    const auto beyond_float = [&](__m256d x) __attribute__((target("avx2"))) {
        return _mm256_cmp_pd(_mm256_andnot_pd(sign, x), float_max, _CMP_NLE_UQ);
    };
    const double ox = origin.x, oy = origin.y, oz = origin.z;
    const __m256d m0 = all(M.m[0]), m1 = all(M.m[1]), m2 = all(M.m[2]), m4 = all(M.m[4]),
                  m5 = all(M.m[5]), m6 = all(M.m[6]), m8 = all(M.m[8]), m9 = all(M.m[9]),
                  m10 = all(M.m[10]);
    const __m256d vox = all(ox), voy = all(oy), voz = all(oz);
    const __m256d e = all(ox * ox + oy * oy - cylinder_radius_sq);
    const __m256d zero = _mm256_setzero_pd();
    int k = 0;
    for (; k + 4 <= grid_points; k += 4) {
        const Vec3* r = ray_table + k;
        const __m256d x = _mm256_setr_pd(r[0].x, r[1].x, r[2].x, r[3].x),
                      y = _mm256_setr_pd(r[0].y, r[1].y, r[2].y, r[3].y),
                      z = _mm256_setr_pd(r[0].z, r[1].z, r[2].z, r[3].z);
        const auto dot = [&](__m256d a0, __m256d a1, __m256d a2) __attribute__((target("avx2"))) {
            return to_float(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, a0), _mm256_mul_pd(y, a1)),
                                          _mm256_mul_pd(z, a2)));
        };
        const __m256d dx = dot(m0, m4, m8), dy = dot(m1, m5, m9), dz = dot(m2, m6, m10);
        const __m256d a = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
        const __m256d b2 =
            _mm256_mul_pd(all(2.0), _mm256_add_pd(_mm256_mul_pd(vox, dx), _mm256_mul_pd(voy, dy)));
        __m256d odd = beyond_float(b2);
        const __m256d b = to_float(b2);
        const __m256d q = _mm256_sqrt_pd(
            _mm256_sub_pd(_mm256_mul_pd(b, b), _mm256_mul_pd(_mm256_mul_pd(all(4.0), a), e)));
        const __m256d t =
            _mm256_div_pd(_mm256_sub_pd(_mm256_xor_pd(b, sign), q), _mm256_mul_pd(all(2.0), a));
        odd = _mm256_or_pd(odd, _mm256_cmp_pd(a, zero, _CMP_NGT_UQ));
        odd = _mm256_or_pd(odd, _mm256_cmp_pd(q, zero, _CMP_NGT_UQ));
        odd = _mm256_or_pd(odd, _mm256_cmp_pd(t, zero, _CMP_EQ_OQ));
        const __m256d px2 = _mm256_add_pd(vox, _mm256_mul_pd(t, dx));
        const __m256d py2 = _mm256_add_pd(voy, _mm256_mul_pd(t, dy));
        const __m256d pz2 = _mm256_add_pd(voz, _mm256_mul_pd(t, dz));
        odd = _mm256_or_pd(odd, _mm256_or_pd(beyond_float(px2), beyond_float(py2)));
        odd = _mm256_or_pd(odd, beyond_float(pz2));
        const __m256d px = to_float(px2), py = to_float(py2), pz = to_float(pz2);

        const __m256d depth = _mm256_mul_pd(pz, all(v_per_unit));
        odd = _mm256_or_pd(
            odd, _mm256_cmp_pd(_mm256_andnot_pd(sign, depth), all(2147483648.0), _CMP_NLT_UQ));
        const __m128i v = _mm256_cvttpd_epi32(depth);

        const __m256d ax = _mm256_andnot_pd(sign, px), ay = _mm256_andnot_pd(sign, py);
        const __m256d lo = _mm256_min_pd(ax, ay), hi = _mm256_max_pd(ax, ay);
        odd = _mm256_or_pd(odd, _mm256_cmp_pd(hi, zero, _CMP_EQ_OQ));
        const __m256d wide = _mm256_cmp_pd(lo, _mm256_mul_pd(all(0.41421356), hi), _CMP_GT_OQ);
        const __m256d ratio = _mm256_div_pd(select(wide, _mm256_sub_pd(lo, hi), lo),
                                            select(wide, _mm256_add_pd(lo, hi), hi));
        const __m256d z2 = _mm256_mul_pd(ratio, ratio);
        __m256d series = all(inverse_odd[0]);
        for (int i = 1; i < 11; ++i)
            series = _mm256_sub_pd(all(inverse_odd[i]), _mm256_mul_pd(z2, series));
        __m256d angle =
            _mm256_add_pd(_mm256_and_pd(wide, all(pi / 4)), _mm256_mul_pd(ratio, series));
        angle = select(_mm256_cmp_pd(ax, ay, _CMP_GT_OQ), _mm256_sub_pd(all(pi / 2), angle), angle);
        angle = select(_mm256_cmp_pd(py, zero, _CMP_LT_OQ), _mm256_sub_pd(all(pi), angle), angle);
        const __m256d rows = _mm256_mul_pd(angle, all(u_per_radian));
        const __m128i u = _mm256_cvttpd_epi32(rows);
        const __m256d fraction = _mm256_sub_pd(rows, _mm256_cvtepi32_pd(u));
        odd = _mm256_or_pd(odd, _mm256_cmp_pd(fraction, all(1e-6), _CMP_NGT_UQ));
        odd = _mm256_or_pd(odd, _mm256_cmp_pd(fraction, all(1.0 - 1e-6), _CMP_NLT_UQ));

        const int redo = _mm256_movemask_pd(odd);
        __m128i* out = reinterpret_cast<__m128i*>(uv_grid + k);
        _mm_storeu_si128(out, _mm_unpacklo_epi32(u, v));  // u0, v0, u1, v1
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(u, v));
        for (int i = 0; i < 4; ++i)
            if (redo & (1 << i)) uv_grid[k + i] = trace_point(M, origin, k + i);
    }
    return k;
}
#endif

}  // namespace

Vec3 ray_cylinder_hit(Vec3 origin, Vec3 direction) {
    return cylinder_hit(origin, direction);
}

void tunnel_trace_portable(const Matrix4& M) {
    const Vec3 origin{M.m[12], M.m[13], M.m[14]};
    for (int k = 0; k < grid_points; ++k) uv_grid[k] = trace_point(M, origin, k);
}

namespace {

// A whole trace by a SIMD kernel, the points it leaves by the scalar path.
template <int (*kernel)(const Matrix4&, Vec3)>
void trace_with(const Matrix4& M) {
    const Vec3 origin{M.m[12], M.m[13], M.m[14]};
    if (std::isnan(origin.x) || std::isnan(origin.y)) {
        // Every hit is then NaN in all three coordinates (b, e, q and t all are, whatever the
        // direction), so every point is INT32_MIN: the camera of T = 0, NaN throughout, would
        // otherwise send each ray down the scalar path.
        for (TexCoord& c : uv_grid) c = {INT32_MIN, INT32_MIN};
        return;
    }
    for (int k = kernel(M, origin); k < grid_points; ++k) uv_grid[k] = trace_point(M, origin, k);
}

// Filled once: portable first, then what this build has and the processor runs; the last is
// the fastest.
struct {
    TracePath list[3];
    int count;
} traces;

void find_traces() {
    int n = 0;
    traces.list[n++] = {"portable", tunnel_trace_portable};
#if defined(__SSE2__)
    traces.list[n++] = {"sse2", trace_with<trace_sse2>};
#endif
#if defined(TRACE_AVX2)
    if (__builtin_cpu_supports("avx2")) traces.list[n++] = {"avx2", trace_with<trace_avx2>};
#endif
    traces.count = n;
}

}  // namespace

const TracePath* trace_paths(int* count) {
    static const bool found = (find_traces(), true);  // thread-safe one-time set-up
    (void)found;
    *count = traces.count;
    return traces.list;
}

void tunnel_trace(const Matrix4& M) {
    static const TraceFn best = [] {
        int n;
        return trace_paths(&n)[n - 1].trace;
    }();
    best(M);
}
