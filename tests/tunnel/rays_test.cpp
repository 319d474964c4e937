// Ray table, cylinder hits and tracing: hand-worked cases, and the non-finite frames.
#include "tunnel/rays.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

TEST(TunnelRays, TableCornersAndCentre) {
    rays_init();
    const auto at = [](int i, int j) { return ray_table[j * grid_columns + i]; };
    EXPECT_EQ(at(0, 0).x, -20.0f);
    EXPECT_EQ(at(0, 0).y, -15.0f);
    EXPECT_EQ(at(0, 0).z, -20.0f);
    EXPECT_EQ(at(40, 30).x, 20.0f);
    EXPECT_EQ(at(40, 30).y, 15.0f);
    EXPECT_EQ(at(40, 30).z, -20.0f);
    EXPECT_EQ(at(20, 15).x, 0.0f);
    EXPECT_EQ(at(20, 15).y, 0.0f);
    EXPECT_EQ(at(40, 0).x, 20.0f);  // rows run along x: the table is not transposed
    EXPECT_EQ(at(40, 0).y, -15.0f);
}

TEST(TunnelRays, HitIsTheRootBehindTheOrigin) {
    // a = 1, b = 2, e = −3, q = 4: roots 1 and −3; −3 is taken.
    Vec3 p = ray_cylinder_hit({0, 1, 0}, {0, 1, 0});
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, -2.0f);
    EXPECT_EQ(p.z, 0.0f);
    // a = 1, b = 0, e = −4: roots ±2; the hit at t = −2 is (−2, 0, 3), not (2, 0, 7).
    p = ray_cylinder_hit({0, 0, 5}, {1, 0, 1});
    EXPECT_FLOAT_EQ(p.x, -2.0f);
    EXPECT_FLOAT_EQ(p.y, 0.0f);
    EXPECT_FLOAT_EQ(p.z, 3.0f);
    // Unnormalised directions give the same point.
    p = ray_cylinder_hit({0, 0, 5}, {10, 0, 10});
    EXPECT_FLOAT_EQ(p.x, -2.0f);
    EXPECT_FLOAT_EQ(p.z, 3.0f);
}

TEST(TunnelRays, AxisParallelRayIsNotFinite) {
    const Vec3 p = ray_cylinder_hit({0, 1, 0}, {0, 0, -20});  // a = 0
    EXPECT_FALSE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
}

// A camera at (0, 1, 0) whose centre ray (0, 0, −20) points along +y.
Matrix4 camera_looking_up_y() {
    Matrix4 M;
    mat_translation(M, 0, 1, 0);
    M.m[5] = 0, M.m[6] = 1;    // row 1 = (0, 0, 1)
    M.m[9] = -1, M.m[10] = 0;  // row 2 = (0, −1, 0)
    return M;
}

TEST(TunnelRays, TraceOppositeWallGivesU256) {
    rays_init();
    tunnel_trace(camera_looking_up_y());
    // Centre ray d = (0, 20, 0) hits (0, −2, 0) behind the eye: angle π, u = trunc(256.0008).
    const TexCoord c = uv_grid[15 * grid_columns + 20];
    EXPECT_EQ(c.u, 256);
    EXPECT_EQ(c.v, 0);
    // One row lower d = (0, 20, 1): hit (0, −2, −0.15), v = trunc(−4.8) = −4 (toward zero).
    const TexCoord below = uv_grid[16 * grid_columns + 20];
    EXPECT_EQ(below.u, 256);
    EXPECT_EQ(below.v, -4);
}

TEST(TunnelRays, TraceAxisParallelRayGivesIntMin) {
    rays_init();
    Matrix4 M;
    mat_translation(M, 0, 1, 0);
    tunnel_trace(M);
    // The centre ray runs along the axis: no hit, so both coordinates come out as INT32_MIN.
    const TexCoord centre = uv_grid[15 * grid_columns + 20];
    EXPECT_EQ(centre.u, INT32_MIN);
    EXPECT_EQ(centre.v, INT32_MIN);
    // Its right neighbour d = (1, 0, −20): t = −√3, hit (−√3, 1, 20√3), angle π/3.
    const TexCoord right = uv_grid[15 * grid_columns + 21];
    EXPECT_EQ(right.u, 85);    // 1.0471976 × 81.4874 = 85.33
    EXPECT_EQ(right.v, 1108);  // 34.641016 × 32 = 1108.51
}

TEST(TunnelRays, CameraAtTimeZeroGivesIntMinEverywhere) {
    rays_init();
    for (const std::int32_t K : {0, 3}) {
        const Matrix4 M = tunnel_camera(0.0f, K);
        EXPECT_TRUE(std::isnan(M.m[0])) << "target equals eye at T = 0";
        tunnel_trace(M);
        for (int k = 0; k < grid_points; ++k) {
            ASSERT_EQ(uv_grid[k].u, INT32_MIN) << k;
            ASSERT_EQ(uv_grid[k].v, INT32_MIN) << k;
        }
    }
}

TEST(TunnelRays, CameraRowThreeIsTheEye) {
    const float T = 500.25f;
    const Matrix4 M = tunnel_camera(T, 17);
    EXPECT_FLOAT_EQ(M.m[12], static_cast<float>(std::sin(0.001 * T)));
    EXPECT_FLOAT_EQ(M.m[13], static_cast<float>(std::cos(0.001 * T)));
    EXPECT_FLOAT_EQ(M.m[14], static_cast<float>(0.3 * T));
    EXPECT_EQ(M.m[15], 1.0f);
}

}  // namespace
