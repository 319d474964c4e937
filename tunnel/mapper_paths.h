// The block mapper's implementations: the portable one and the x86 SIMD ones, which all draw the
// same pixels. tunnel_draw uses the one that measured fastest.
#pragma once

#include "assets/pixel.h"

// Draws the whole frame from uv_grid with `texture`, as tunnel_draw does.
using MapperDrawFn = void (*)(Pixel32* framebuffer, const Pixel32* texture);

struct MapperPath {
    const char* name;  // "portable", "sse2" or "avx2"
    MapperDrawFn draw;
};

// The paths this build has and this processor runs, portable first, then SSE2 and AVX2;
// `count` receives their number.
const MapperPath* mapper_paths(int* count);

// The x86 paths, each compiled only where the build can. AVX2 is compiled for every x86 build
// with GCC or Clang and must only run where the processor reports AVX2.
#if defined(__SSE2__)
#define MAPPER_SSE2 1
void mapper_draw_sse2(Pixel32* framebuffer, const Pixel32* texture);
#endif
#if defined(MAPPER_SSE2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define MAPPER_AVX2 1
void mapper_draw_avx2(Pixel32* framebuffer, const Pixel32* texture);
#endif
