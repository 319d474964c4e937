// Matrix and vector math: hand-computed cases and the algebraic properties a camera relies on.
#include "tunnel/math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

void expect_rows(const Matrix4& M, const float (&want)[16], float tol = 1e-6f) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(M.m[i], want[i], tol) << "element " << i;
}

TEST(TunnelMath, LookAtDownTheAxisFromOffsetEye) {
    Matrix4 M;
    mat_look_at(M, {0, 1, 0}, {0, 1, 1}, 0);
    // f = (0,0,1), up = (0,−1,0), s = up × f = (−1,0,0), u = s × f = (0,1,0), as columns.
    const float want[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 1, 0, 1};
    expect_rows(M, want, 0);
}

TEST(TunnelMath, LookAtColumnsAreAnOrthonormalFrameFacingTheTarget) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> pos(-50, 50), angle(-7, 7);
    for (int n = 0; n < 200; ++n) {
        const Vec3 eye{pos(rng), pos(rng), pos(rng)}, target{pos(rng), pos(rng), pos(rng)};
        const float roll = angle(rng);
        Matrix4 M;
        mat_look_at(M, eye, target, roll);
        double col[3][3];
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i) col[j][i] = M.m[4 * i + j];
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                const double dot =
                    col[a][0] * col[b][0] + col[a][1] * col[b][1] + col[a][2] * col[b][2];
                EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-5);
            }
        // Column 2 is the view direction; column 0 is square to the rolled up vector.
        const double fx = target.x - eye.x, fy = target.y - eye.y, fz = target.z - eye.z;
        const double len = std::sqrt(fx * fx + fy * fy + fz * fz);
        EXPECT_NEAR(col[2][0], fx / len, 1e-5);
        EXPECT_NEAR(col[2][1], fy / len, 1e-5);
        EXPECT_NEAR(col[2][2], fz / len, 1e-5);
        EXPECT_NEAR(col[0][0] * std::sin(roll) - col[0][1] * std::cos(roll), 0.0, 1e-5);
        EXPECT_EQ(M.m[12], eye.x);
        EXPECT_EQ(M.m[13], eye.y);
        EXPECT_EQ(M.m[14], eye.z);
        EXPECT_EQ(M.m[15], 1.0f);
        EXPECT_EQ(M.m[3] + M.m[7] + M.m[11], 0.0f);
    }
}

TEST(TunnelMath, LookAtWithTargetOnEyeIsNotFinite) {
    Matrix4 M;
    mat_look_at(M, {0, 1, 0}, {0, 1, 0}, 0);
    EXPECT_TRUE(std::isnan(M.m[0]) && std::isnan(M.m[10]));
}

TEST(TunnelMath, RotationAboutEachAngleAlone) {
    constexpr float h = std::numbers::pi_v<float> / 2;
    Matrix4 M;
    mat_rotation_xyz(M, 0, 0, 0);
    expect_rows(M, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, 0);
    // a1 alone: row 1 = (0, ca, sa), row 2 = (0, −sa, ca).
    mat_rotation_xyz(M, h, 0, 0);
    expect_rows(M, {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1});
    // a2 alone: row 0 = (cb, 0, −sb), row 2 = (sb, 0, cb).
    mat_rotation_xyz(M, 0, h, 0);
    expect_rows(M, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1});
    // a3 alone: row 0 = (cc, sc, 0), row 1 = (−sc, cc, 0).
    mat_rotation_xyz(M, 0, 0, h);
    expect_rows(M, {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

TEST(TunnelMath, RotationIsProperForAnyAngles) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> angle(-400, 400);  // beat counts reach such angles
    for (int n = 0; n < 500; ++n) {
        Matrix4 M;
        mat_rotation_xyz(M, angle(rng), angle(rng), angle(rng));
        const auto r = [&](int i, int j) { return double{M.m[4 * i + j]}; };
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                EXPECT_NEAR(r(a, 0) * r(b, 0) + r(a, 1) * r(b, 1) + r(a, 2) * r(b, 2), a == b,
                            1e-6);
        const double det = r(0, 0) * (r(1, 1) * r(2, 2) - r(1, 2) * r(2, 1)) -
                           r(0, 1) * (r(1, 0) * r(2, 2) - r(1, 2) * r(2, 0)) +
                           r(0, 2) * (r(1, 0) * r(2, 1) - r(1, 1) * r(2, 0));
        EXPECT_NEAR(det, 1.0, 1e-6);  // a sign slip in the table would give −1 or a non-rotation
    }
}

TEST(TunnelMath, PremultiplyOrderAndAliasing) {
    Matrix4 A, B;
    for (int i = 0; i < 16; ++i) {
        A.m[i] = static_cast<float>(i + 1);  // rows (1 2 3 4) (5 6 7 8) ...
        B.m[i] = static_cast<float>(i % 3);  // rows (0 1 2 0) (1 2 0 1) (2 0 1 2) (0 1 2 0)
    }
    const Matrix4 A0 = A;
    mat_premultiply(A, B);  // A = B × A, worked by hand:
    const float want[16] = {23, 26, 29, 32, 24, 28, 32, 36, 37, 42, 47, 52, 23, 26, 29, 32};
    expect_rows(A, want, 0);
    // Squaring in place must use the original values throughout.
    A = A0;
    mat_premultiply(A, A);
    const float square[16] = {90,  100, 110, 120, 202, 228, 254, 280,
                              314, 356, 398, 440, 426, 484, 542, 600};
    expect_rows(A, square, 0);
}

TEST(TunnelMath, TransformDirIgnoresTranslation) {
    Matrix4 M;
    mat_translation(M, 100, 200, 300);
    M.m[0] = 2;  // scale x by 2, and let z feed into y
    M.m[9] = 3;
    const Vec3 d = vec_transform_dir(M, {1, 2, 4});
    EXPECT_EQ(d.x, 2.0f);
    EXPECT_EQ(d.y, 2.0f + 12.0f);
    EXPECT_EQ(d.z, 4.0f);
}

}  // namespace
