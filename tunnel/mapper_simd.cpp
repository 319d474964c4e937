// The block mapper on x86 SIMD: per block row, the eight accumulators are made at once with
// packed 16-bit arithmetic (the lane model itself), then the eight texels are fetched: one by
// one with SSE2, by one gather with AVX2. (Combining the SSE2 texels into 16-byte stores
// measured no faster.)
#include <cstdint>

#include "tunnel/mapper_paths.h"
#include "tunnel/mapper_rows.h"

// SSE2 alone from its own header: builds that emulate SSE2 (WebAssembly) may have no other.
#if defined(MAPPER_SSE2)
#include <emmintrin.h>
#endif
#if defined(MAPPER_AVX2)
#include <immintrin.h>
#endif

namespace {

// Walks the 40 × 30 blocks and their 8 rows; `fill_row(row, acc, step)` draws 8 pixels.
template <typename FillRow>
inline void draw_blocks(Pixel32* framebuffer, FillRow fill_row) {
    for (int by = 0; by < 30; ++by) {
        const TexCoord* top = uv_grid + by * grid_columns;
        const TexCoord* bottom = top + grid_columns;
        for (int bx = 0; bx < 40; ++bx) {
            MapperEdges e = mapper_edges(top[bx], top[bx + 1], bottom[bx], bottom[bx + 1]);
            Pixel32* row = framebuffer + 8 * by * screen_width + 8 * bx;
            for (int r = 0; r < 8; ++r, row += screen_width) {
                mapper_u32 acc, step;
                mapper_next_row(e, &acc, &step);
                fill_row(row, acc, step);
            }
        }
    }
}

}  // namespace

#if defined(MAPPER_SSE2)
void mapper_draw_sse2(Pixel32* framebuffer, const Pixel32* texture) {
    // Pixel i's accumulator is acc + i × step in each 16-bit lane; the low 16 bits of a 16-bit
    // product are the same signed or unsigned, so mullo gives i × step modulo 65536 exactly.
    const __m128i i0123 = _mm_setr_epi16(0, 0, 1, 1, 2, 2, 3, 3);
    const __m128i i4567 = _mm_setr_epi16(4, 4, 5, 5, 6, 6, 7, 7);
    alignas(16) std::uint16_t index[8];
    draw_blocks(framebuffer, [&](Pixel32* row, mapper_u32 acc, mapper_u32 step) {
        const __m128i a = _mm_set1_epi32(static_cast<int>(acc));
        const __m128i s = _mm_set1_epi32(static_cast<int>(step));
        const __m128i lo = _mm_add_epi16(a, _mm_mullo_epi16(s, i0123));
        const __m128i hi = _mm_add_epi16(a, _mm_mullo_epi16(s, i4567));
        // Each lane's integer byte, packed to bytes v, u per pixel: that is the 16-bit texel
        // index u × 256 + v of each pixel, eight of them.
        _mm_store_si128(reinterpret_cast<__m128i*>(index),
                        _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)));
        for (int i = 0; i < 8; ++i) row[i] = texture[index[i]];
    });
}
#endif

#if defined(MAPPER_AVX2)
__attribute__((target("avx2"))) void mapper_draw_avx2(Pixel32* framebuffer,
                                                      const Pixel32* texture) {
    const __m256i i07 = _mm256_setr_epi16(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
    const __m256i low_byte = _mm256_set1_epi32(0xFF);
    const int* texels = reinterpret_cast<const int*>(texture);
    draw_blocks(
        framebuffer, [&](Pixel32 * row, mapper_u32 acc,
                         mapper_u32 step) __attribute__((target("avx2"))) {
            const __m256i a = _mm256_set1_epi32(static_cast<int>(acc));
            const __m256i s = _mm256_set1_epi32(static_cast<int>(step));
            const __m256i lanes = _mm256_add_epi16(a, _mm256_mullo_epi16(s, i07));
            // Integer bytes of both lanes, (u << 16) | v, folded to u × 256 + v.
            const __m256i bytes = _mm256_srli_epi16(lanes, 8);
            const __m256i index =
                _mm256_or_si256(_mm256_and_si256(bytes, low_byte), _mm256_srli_epi32(bytes, 8));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row),
                                _mm256_i32gather_epi32(texels, index, 4));
        });
}
#endif
