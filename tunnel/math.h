// 4×4 matrix and vector math for the tunnel camera. Row vectors: v' = v × M, row-major storage,
// translation in row 3 (m[12], m[13], m[14]). Angles in radians.
#pragma once

struct Vec3 {
    float x, y, z;
};

struct Matrix4 {
    float m[16];  // m[4 * row + column]
};

void mat_identity(Matrix4& M);
// Rotation from three angles (see the table in math.cpp).
void mat_rotation_xyz(Matrix4& M, float a1, float a2, float a3);
// Identity with the translation (x, y, z) in row 3.
void mat_translation(Matrix4& M, float x, float y, float z);
// Camera at `eye` looking at `target`, rolled by `roll` around the view direction.
void mat_look_at(Matrix4& M, Vec3 eye, Vec3 target, float roll);
// A = B × A. A and B may be the same matrix.
void mat_premultiply(Matrix4& A, const Matrix4& B);
// v × (upper-left 3×3 of M): a direction, without translation. Products and sums in double,
// each component rounded to float once. Inline: the trace calls it for every grid ray.
inline Vec3 vec_transform_dir(const Matrix4& M, Vec3 v) {
    const double x = v.x, y = v.y, z = v.z;
    return {static_cast<float>(x * M.m[0] + y * M.m[4] + z * M.m[8]),
            static_cast<float>(x * M.m[1] + y * M.m[5] + z * M.m[9]),
            static_cast<float>(x * M.m[2] + y * M.m[6] + z * M.m[10])};
}
