// The 8 × 8 block texture mapper: bilinear 8.8 corner interpolation, two 16-bit lanes per pixel.
// This is the portable path; tunnel_draw picks the fastest path once, on its first call.
#include "tunnel/mapper.h"

#include <cassert>
#include <cstdint>

#include "tunnel/mapper_paths.h"
#include "tunnel/mapper_rows.h"

namespace {

// Adds two words as two independent 16-bit lanes, each modulo 65536: the carry out of the low
// (v) lane is dropped instead of reaching the high (u) lane, as a packed 16-bit add does.
inline mapper_u32 add_lanes16(mapper_u32 a, mapper_u32 b) {
    return ((a & 0xFFFF0000u) + (b & 0xFFFF0000u)) | ((a + b) & 0x0000FFFFu);
}

void draw_portable(Pixel32* framebuffer, const Pixel32* texture) {
    for (int by = 0; by < 30; ++by) {
        const TexCoord* top = uv_grid + by * grid_columns;
        const TexCoord* bottom = top + grid_columns;
        for (int bx = 0; bx < 40; ++bx)
            map_block_8x8(framebuffer, 8 * bx, 8 * by, top[bx], top[bx + 1], bottom[bx],
                          bottom[bx + 1], texture);
    }
}

// Filled once, portable first, then what this build has and the processor runs.
struct {
    MapperPath list[3];
    int count;
    MapperDrawFn best;
} paths;

void find_paths() {
    int n = 0;
    paths.list[n++] = {"portable", draw_portable};
#if defined(MAPPER_SSE2)
    paths.list[n++] = {"sse2", mapper_draw_sse2};
#endif
#if defined(MAPPER_AVX2)
    if (__builtin_cpu_supports("avx2")) paths.list[n++] = {"avx2", mapper_draw_avx2};
#endif
    paths.count = n;
    // The widest the processor runs: AVX2 draws a frame some 10 % faster than SSE2.
    paths.best = paths.list[n - 1].draw;
}

}  // namespace

void map_block_8x8(Pixel32* framebuffer, int x, int y, TexCoord c00, TexCoord c10, TexCoord c01,
                   TexCoord c11, const Pixel32* texture) {
    assert(x >= 0 && y >= 0 && x + 8 <= screen_width && y + 8 <= screen_height);
    MapperEdges e = mapper_edges(c00, c10, c01, c11);
    Pixel32* row = framebuffer + y * screen_width + x;
    for (int r = 0; r < 8; ++r, row += screen_width) {
        mapper_u32 acc, step;
        mapper_next_row(e, &acc, &step);
        for (int i = 0; i < 8; ++i) {
            row[i] = texture[mapper_texel(acc)];
            acc = add_lanes16(acc, step);
        }
    }
}

const MapperPath* mapper_paths(int* count) {
    // Thread-safe one-time set-up: the first caller fills the table.
    static const bool found = (find_paths(), true);
    (void)found;
    *count = paths.count;
    return paths.list;
}

void tunnel_draw(Pixel32* framebuffer, const Pixel32* texture) {
    static const MapperDrawFn best = [] {
        int n;
        mapper_paths(&n);
        return paths.best;
    }();
    best(framebuffer, texture);
}
