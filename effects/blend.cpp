// Whole-frame fade and mask multiply: four 8-bit channels per pixel as 16-bit lanes.
#include "effects/blend.h"

// SSE2 where the compiler targets it (every x86 build, the 32-bit Windows one included);
// elsewhere the plain per-byte loops do the same work.
#if defined(__SSE2__)
#define BLEND_SSE2 1
#include <emmintrin.h>
#endif
// AVX2 as well with GCC and Clang on x86, taken only where the processor reports it. Tests build
// this file again with VORTA_NO_AVX2 to check the SSE2 path on any processor.
#if defined(BLEND_SSE2) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && \
    !defined(VORTA_NO_AVX2)
#define BLEND_AVX2 1
#include <immintrin.h>
#endif

namespace {

// Both blends walk every pixel of the frame; no caller ever passes a part of one.
constexpr int blend_pixels = screen_pixels;

// Amounts and mask bytes act as 0.8 fixed-point factors: 255 means 255/256, never quite 1.
// The four bytes of `word` scaled by `factor` (0..255) and shifted down: (byte × factor) >> 8
// each, repacked. Used once per call for the fade's colour term, never per pixel.
std::uint32_t blend_scale_bytes(std::uint32_t word, std::uint32_t factor) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        out |= ((((word >> shift) & 0xFF) * factor) >> 8) << shift;
    }
    return out;
}

#if defined(BLEND_SSE2)
// Four pixels at a time: 16 bytes widened to two registers of eight 16-bit lanes (two pixels
// each). A byte times a factor below 256 stays below 65536, so the low-half multiply is exact.
static inline __m128i blend_widen_lo(__m128i v) {
    return _mm_unpacklo_epi8(v, _mm_setzero_si128());
}
static inline __m128i blend_widen_hi(__m128i v) {
    return _mm_unpackhi_epi8(v, _mm_setzero_si128());
}
#endif

#if defined(BLEND_AVX2)
const bool blend_have_avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));

// The SSE2 loops below on eight pixels at a time. Unpacking and packing both work within each
// 128-bit half, so the pixels come out in their places.
__attribute__((target("avx2"))) void fade_avx2(Pixel32* fb, std::uint32_t keep, std::uint32_t add) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i keep16 = _mm256_set1_epi16(static_cast<short>(keep));
    const __m256i add16 = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(add)), zero);
    for (int i = 0; i < blend_pixels; i += 8) {
        __m256i* p = reinterpret_cast<__m256i*>(fb + i);
        const __m256i px = _mm256_loadu_si256(p);
        const __m256i lo = _mm256_adds_epu16(
            _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(px, zero), keep16), 8),
            add16);
        const __m256i hi = _mm256_adds_epu16(
            _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(px, zero), keep16), 8),
            add16);
        _mm256_storeu_si256(p, _mm256_packus_epi16(lo, hi));
    }
}

__attribute__((target("avx2"))) void mask_avx2(Pixel32* fb, const Pixel32* mask) {
    const __m256i zero = _mm256_setzero_si256();
    for (int i = 0; i < blend_pixels; i += 8) {
        __m256i* p = reinterpret_cast<__m256i*>(fb + i);
        const __m256i px = _mm256_loadu_si256(p);
        const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + i));
        const __m256i lo = _mm256_srli_epi16(
            _mm256_mullo_epi16(_mm256_unpacklo_epi8(px, zero), _mm256_unpacklo_epi8(m, zero)), 8);
        const __m256i hi = _mm256_srli_epi16(
            _mm256_mullo_epi16(_mm256_unpackhi_epi8(px, zero), _mm256_unpackhi_epi8(m, zero)), 8);
        _mm256_storeu_si256(p, _mm256_packus_epi16(lo, hi));
    }
}
static_assert(blend_pixels % 8 == 0, "the AVX2 loops have no tail");
#endif

}  // namespace

void fade_to_color(Pixel32* framebuffer, std::uint32_t color, std::int32_t amount) {
    // Only the low 8 bits of the amount count: 256 fades like 0 and −1 like 255.
    const std::uint32_t a = static_cast<std::uint32_t>(amount) & 0xFF;
    const std::uint32_t keep = 255 - a;
    // The colour's share is the same for every pixel: (c × a) >> 8 per byte, made once.
    const std::uint32_t add = blend_scale_bytes(color, a);
#if defined(BLEND_AVX2)
    if (blend_have_avx2) return fade_avx2(framebuffer, keep, add);
#endif
    int i = 0;
#if defined(BLEND_SSE2)
    const __m128i keep16 = _mm_set1_epi16(static_cast<short>(keep));
    const __m128i add16 = blend_widen_lo(_mm_set1_epi32(static_cast<int>(add)));
    for (; i + 4 <= blend_pixels; i += 4) {
        __m128i* p = reinterpret_cast<__m128i*>(framebuffer + i);
        const __m128i px = _mm_loadu_si128(p);
        // (p × keep) >> 8 + add in 16-bit lanes; the sum stays below 255 (keep + a = 255),
        // and the saturating add and pack still hold any lane at 255.
        const __m128i lo =
            _mm_adds_epu16(_mm_srli_epi16(_mm_mullo_epi16(blend_widen_lo(px), keep16), 8), add16);
        const __m128i hi =
            _mm_adds_epu16(_mm_srli_epi16(_mm_mullo_epi16(blend_widen_hi(px), keep16), 8), add16);
        _mm_storeu_si128(p, _mm_packus_epi16(lo, hi));
    }
#endif
    // Plain path (and the tail, empty for 76800 pixels): per byte, no byte carries into the
    // next since each result is at most 254.
    for (; i < blend_pixels; ++i) {
        framebuffer[i] = blend_scale_bytes(framebuffer[i], keep) + add;
    }
}

void multiply_mask(Pixel32* framebuffer, const Pixel32* mask) {
#if defined(BLEND_AVX2)
    if (blend_have_avx2) return mask_avx2(framebuffer, mask);
#endif
    int i = 0;
#if defined(BLEND_SSE2)
    for (; i + 4 <= blend_pixels; i += 4) {
        __m128i* p = reinterpret_cast<__m128i*>(framebuffer + i);
        const __m128i px = _mm_loadu_si128(p);
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i));
        // (p × m) >> 8 per lane: at most 254, so the pack never saturates.
        const __m128i lo =
            _mm_srli_epi16(_mm_mullo_epi16(blend_widen_lo(px), blend_widen_lo(m)), 8);
        const __m128i hi =
            _mm_srli_epi16(_mm_mullo_epi16(blend_widen_hi(px), blend_widen_hi(m)), 8);
        _mm_storeu_si128(p, _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < blend_pixels; ++i) {
        const std::uint32_t p = framebuffer[i];
        const std::uint32_t m = mask[i];
        std::uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            out |= ((((p >> shift) & 0xFF) * ((m >> shift) & 0xFF)) >> 8) << shift;
        }
        framebuffer[i] = out;
    }
}
