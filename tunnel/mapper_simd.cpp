// The block mapper on x86 SIMD. Several neighbouring blocks are taken at once, one per 32-bit
// lane (four with SSE2, eight with AVX2): their row set-up and their accumulators are made in
// packed arithmetic, which is the lane model itself, then the texels are fetched one by one
// through 64-bit moves of their indices. (A gather measured slower than these single loads, and
// the row set-up of one block at a time cost more than a third of the frame.)
#include <cstdint>

#include "tunnel/mapper_paths.h"
#include "tunnel/rays.h"

// SSE2 alone from its own header: builds that emulate SSE2 (WebAssembly) may have no other.
#if defined(MAPPER_SSE2)
#include <emmintrin.h>
#endif
#if defined(MAPPER_AVX2)
#include <immintrin.h>
#endif

#if defined(MAPPER_SSE2)
namespace {

// The u and v of four consecutive grid points, each in its own vector.
inline void load_uv4(const TexCoord* c, __m128i* u, __m128i* v) {
    const __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)));
    const __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 2)));
    *u = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    *v = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

// Four texels whose indices are the 16-bit words of `lo` and `hi`, to pixel i of four blocks.
inline void fetch4(Pixel32* row, std::uint32_t lo, std::uint32_t hi, const Pixel32* texture) {
    row[0] = texture[lo & 0xFFFF];
    row[8] = texture[lo >> 16];
    row[16] = texture[hi & 0xFFFF];
    row[24] = texture[hi >> 16];
}

// Pixels i and i + 1 of four blocks: `q` holds their eight indices, pixel i's first.
inline void fetch8(Pixel32* row, __m128i q, const Pixel32* texture) {
#if defined(__x86_64__) || defined(_M_X64)
    // Two 64-bit moves and shifts: fewer instructions than one extraction per index.
    const auto lo = static_cast<std::uint64_t>(_mm_cvtsi128_si64(q));
    const auto hi = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(q, q)));
    fetch4(row, static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(lo >> 32), texture);
    fetch4(row + 1, static_cast<std::uint32_t>(hi), static_cast<std::uint32_t>(hi >> 32), texture);
#else
    const auto word = [](__m128i x) { return static_cast<std::uint32_t>(_mm_cvtsi128_si32(x)); };
    fetch4(row, word(q), word(_mm_srli_si128(q, 4)), texture);
    fetch4(row + 1, word(_mm_srli_si128(q, 8)), word(_mm_srli_si128(q, 12)), texture);
#endif
}

}  // namespace

void mapper_draw_sse2(Pixel32* framebuffer, const Pixel32* texture) {
    for (int by = 0; by < 30; ++by) {
        const TexCoord* top = uv_grid + by * grid_columns;
        const TexCoord* bottom = top + grid_columns;
        for (int bx = 0; bx < 40; bx += 4) {
            // mapper_edges for blocks bx .. bx + 3: left corners top[bx ..], right ones
            // top[bx + 1 ..].
            __m128i u00, v00, u10, v10, u01, v01, u11, v11;
            load_uv4(top + bx, &u00, &v00);
            load_uv4(top + bx + 1, &u10, &v10);
            load_uv4(bottom + bx, &u01, &v01);
            load_uv4(bottom + bx + 1, &u11, &v11);
            __m128i uL = _mm_slli_epi32(u00, 8), vL = _mm_slli_epi32(v00, 8);
            __m128i uR = _mm_slli_epi32(u10, 8), vR = _mm_slli_epi32(v10, 8);
            const __m128i duL = _mm_slli_epi32(_mm_sub_epi32(u01, u00), 5);
            const __m128i dvL = _mm_slli_epi32(_mm_sub_epi32(v01, v00), 5);
            const __m128i duR = _mm_slli_epi32(_mm_sub_epi32(u11, u10), 5);
            const __m128i dvR = _mm_slli_epi32(_mm_sub_epi32(v11, v10), 5);
            Pixel32* row = framebuffer + 8 * by * screen_width + 8 * bx;
            for (int r = 0; r < 8; ++r, row += screen_width) {
                // mapper_next_row, lane by lane; u takes in v's borrow through the plain 32-bit
                // add, as there.
                const __m128i du = _mm_srai_epi32(_mm_sub_epi32(uR, uL), 3);
                const __m128i dv = _mm_srai_epi32(_mm_sub_epi32(vR, vL), 3);
                __m128i acc = _mm_add_epi32(_mm_slli_epi32(uL, 16), vL);
                const __m128i step = _mm_add_epi32(_mm_slli_epi32(du, 16), dv);
                uL = _mm_add_epi32(uL, duL);
                vL = _mm_add_epi32(vL, dvL);
                uR = _mm_add_epi32(uR, duR);
                vR = _mm_add_epi32(vR, dvR);
                // Pixel i's accumulator is the previous one plus the step in 16-bit lanes, which
                // is acc + i × step modulo 65536 in each lane, as the lane model adds.
                for (int i = 0; i < 8; i += 2) {
                    // Each lane's integer bytes, packed to bytes v, u: the texel index u × 256 + v
                    // of pixel i of each block, then of pixel i + 1.
                    const __m128i first = _mm_srli_epi16(acc, 8);
                    acc = _mm_add_epi16(acc, step);
                    const __m128i second = _mm_srli_epi16(acc, 8);
                    acc = _mm_add_epi16(acc, step);
                    fetch8(row + i, _mm_packus_epi16(first, second), texture);
                }
            }
        }
    }
}
#endif

#if defined(MAPPER_AVX2)
namespace {

#define AVX2 __attribute__((target("avx2")))

// Eight consecutive grid points' u and v, in order: the in-lane shuffle leaves the points as
// 0 1 4 5 2 3 6 7, and the 64-bit permute puts them back.
AVX2 inline void load_uv8(const TexCoord* c, __m256i* u, __m256i* v) {
    const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c)));
    const __m256 b =
        _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 4)));
    *u = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88)), 0xD8);
    *v = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD)), 0xD8);
}

}  // namespace

AVX2 void mapper_draw_avx2(Pixel32* framebuffer, const Pixel32* texture) {
    // The SSE2 path's method with eight blocks per vector.
    for (int by = 0; by < 30; ++by) {
        const TexCoord* top = uv_grid + by * grid_columns;
        const TexCoord* bottom = top + grid_columns;
        for (int bx = 0; bx < 40; bx += 8) {
            __m256i u00, v00, u10, v10, u01, v01, u11, v11;
            load_uv8(top + bx, &u00, &v00);
            load_uv8(top + bx + 1, &u10, &v10);
            load_uv8(bottom + bx, &u01, &v01);
            load_uv8(bottom + bx + 1, &u11, &v11);
            __m256i uL = _mm256_slli_epi32(u00, 8), vL = _mm256_slli_epi32(v00, 8);
            __m256i uR = _mm256_slli_epi32(u10, 8), vR = _mm256_slli_epi32(v10, 8);
            const __m256i duL = _mm256_slli_epi32(_mm256_sub_epi32(u01, u00), 5);
            const __m256i dvL = _mm256_slli_epi32(_mm256_sub_epi32(v01, v00), 5);
            const __m256i duR = _mm256_slli_epi32(_mm256_sub_epi32(u11, u10), 5);
            const __m256i dvR = _mm256_slli_epi32(_mm256_sub_epi32(v11, v10), 5);
            Pixel32* row = framebuffer + 8 * by * screen_width + 8 * bx;
            for (int r = 0; r < 8; ++r, row += screen_width) {
                const __m256i du = _mm256_srai_epi32(_mm256_sub_epi32(uR, uL), 3);
                const __m256i dv = _mm256_srai_epi32(_mm256_sub_epi32(vR, vL), 3);
                __m256i acc = _mm256_add_epi32(_mm256_slli_epi32(uL, 16), vL);
                const __m256i step = _mm256_add_epi32(_mm256_slli_epi32(du, 16), dv);
                uL = _mm256_add_epi32(uL, duL);
                vL = _mm256_add_epi32(vL, dvL);
                uR = _mm256_add_epi32(uR, duR);
                vR = _mm256_add_epi32(vR, dvR);
                for (int i = 0; i < 8; i += 2) {
                    const __m256i first = _mm256_srli_epi16(acc, 8);
                    acc = _mm256_add_epi16(acc, step);
                    const __m256i second = _mm256_srli_epi16(acc, 8);
                    acc = _mm256_add_epi16(acc, step);
                    // Blocks 0-3 in the low 128 bits, 4-7 in the high ones.
                    const __m256i q = _mm256_packus_epi16(first, second);
                    fetch8(row + i, _mm256_castsi256_si128(q), texture);
                    fetch8(row + 32 + i, _mm256_extracti128_si256(q, 1), texture);
                }
            }
        }
    }
}
#undef AVX2
#endif
