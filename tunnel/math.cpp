// 4×4 matrix and vector math for the tunnel camera: products in double, results stored as float.
#include "tunnel/math.h"

#include <cmath>

void mat_identity(Matrix4& M) {
    for (int i = 0; i < 16; ++i) M.m[i] = (i % 5 == 0) ? 1.0f : 0.0f;  // 0, 5, 10, 15: diagonal
}

// With ca = cos a1, sa = sin a1, cb = cos a2, sb = sin a2, cc = cos a3, sc = sin a3:
//   row 0: cb·cc               cb·sc               −sb
//   row 1: sa·sb·cc − ca·sc    sa·sb·sc + ca·cc    sa·cb
//   row 2: ca·sb·cc + sa·sc    ca·sb·sc − sa·cc    ca·cb
// and row 3 / column 3 those of the identity.
void mat_rotation_xyz(Matrix4& M, float a1, float a2, float a3) {
    const double ca = std::cos(double{a1}), sa = std::sin(double{a1});
    const double cb = std::cos(double{a2}), sb = std::sin(double{a2});
    const double cc = std::cos(double{a3}), sc = std::sin(double{a3});
    mat_identity(M);
    M.m[0] = static_cast<float>(cb * cc);
    M.m[1] = static_cast<float>(cb * sc);
    M.m[2] = static_cast<float>(-sb);
    M.m[4] = static_cast<float>(sa * sb * cc - ca * sc);
    M.m[5] = static_cast<float>(sa * sb * sc + ca * cc);
    M.m[6] = static_cast<float>(sa * cb);
    M.m[8] = static_cast<float>(ca * sb * cc + sa * sc);
    M.m[9] = static_cast<float>(ca * sb * sc - sa * cc);
    M.m[10] = static_cast<float>(ca * cb);
}

void mat_translation(Matrix4& M, float x, float y, float z) {
    mat_identity(M);
    M.m[12] = x;
    M.m[13] = y;
    M.m[14] = z;
}

namespace {

struct Vec3d {
    double x, y, z;
};

Vec3d cross(Vec3d a, Vec3d b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Scales by 1 / length. A zero vector gives NaNs on purpose: the camera at T = 0 has its target
// on its eye, and that frame is black anyway, so nothing guards against it.
Vec3d normalised(Vec3d a) {
    const double k = 1.0 / std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return {a.x * k, a.y * k, a.z * k};
}

}  // namespace

void mat_look_at(Matrix4& M, Vec3 eye, Vec3 target, float roll) {
    const Vec3d up{std::sin(double{roll}), -std::cos(double{roll}), 0.0};
    const Vec3d f =
        normalised({double{target.x} - eye.x, double{target.y} - eye.y, double{target.z} - eye.z});
    const Vec3d s = normalised(cross(up, f));
    const Vec3d u = normalised(cross(s, f));
    // s, u and f are the first three columns of L.
    Matrix4 L;
    mat_identity(L);
    const Vec3d columns[3] = {s, u, f};
    for (int j = 0; j < 3; ++j) {
        L.m[0 + j] = static_cast<float>(columns[j].x);
        L.m[4 + j] = static_cast<float>(columns[j].y);
        L.m[8 + j] = static_cast<float>(columns[j].z);
    }
    mat_translation(M, eye.x, eye.y, eye.z);
    mat_premultiply(M, L);
}

void mat_premultiply(Matrix4& A, const Matrix4& B) {
    // The whole product goes to P first: A and B may be the same matrix.
    Matrix4 P;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += double{B.m[4 * i + k]} * A.m[4 * k + j];
            P.m[4 * i + j] = static_cast<float>(sum);
        }
    }
    A = P;
}
