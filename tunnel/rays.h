// The 41 × 31 ray grid traced each frame against the tunnel's cylinder. Nothing here fails: a
// degenerate camera or a ray along the axis gives INT32_MIN coordinates, which the mapper accepts.
#pragma once

#include <cstdint>

#include "tunnel/math.h"

inline constexpr int grid_columns = 41;  // one per corner of the 40 blocks across
inline constexpr int grid_rows = 31;     // one per corner of the 30 blocks down
inline constexpr int grid_points = grid_columns * grid_rows;  // 1271, stored row by row

// Texture coordinates of a grid point: u the angle around the axis (256 per half turn,
// mirrored), v the depth along it (32 per unit of length).
struct TexCoord {
    std::int32_t u, v;
};

extern Vec3 ray_table[grid_points];    // camera-space directions, fixed at start-up
extern TexCoord uv_grid[grid_points];  // this frame's coordinates

// Fills ray_table: point (column i, row j) gets the direction (i − 20, j − 15, −20).
void rays_init();
// The camera for music time T and beat count K.
Matrix4 tunnel_camera(float T, std::int32_t K);
// Traces every grid ray from camera M (origin in row 3) into uv_grid. No allocation.
void tunnel_trace(const Matrix4& M);
// The same grid, one ray at a time without SIMD: the path of builds without SSE2, kept callable
// so that tests compare it with tunnel_trace on every build.
void tunnel_trace_portable(const Matrix4& M);
// The trace's implementations, which all give the same grid: portable first, then those this
// build has and this processor runs ("sse2", "avx2"); tunnel_trace uses the last. `count`
// receives their number.
using TraceFn = void (*)(const Matrix4& M);
struct TracePath {
    const char* name;
    TraceFn trace;
};
const TracePath* trace_paths(int* count);
// Where the line origin + t·direction meets the cylinder of radius 2 around z, at the smaller t
// (from inside the cylinder: the hit behind the origin). Not finite when direction is along z.
Vec3 ray_cylinder_hit(Vec3 origin, Vec3 direction);
