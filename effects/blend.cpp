// Whole-frame fade and mask multiply: four 8-bit channels per pixel as 16-bit lanes.
#include "effects/blend.h"

#include <cstring>

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

// Amounts and mask bytes act as 0.8 fixed-point factors: 255 means 255/256, never quite 1.
// The four bytes of `word` scaled by `factor` (0..255) and shifted down: (byte × factor) >> 8
// each, repacked.
std::uint32_t blend_scale_bytes(std::uint32_t word, std::uint32_t factor) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        out |= ((((word >> shift) & 0xFF) * factor) >> 8) << shift;
    }
    return out;
}

// The per-frame terms of a fade: each byte keeps (p × keep) >> 8 and gains the matching byte
// of `add`, the colour's share (c × a) >> 8, the same for every pixel.
struct FadeTerms {
    std::uint32_t keep, add;
};

FadeTerms fade_terms(std::uint32_t color, std::int32_t amount) {
    // Only the low 8 bits of the amount count: 256 fades like 0 and −1 like 255.
    const std::uint32_t a = static_cast<std::uint32_t>(amount) & 0xFF;
    return {255 - a, blend_scale_bytes(color, a)};
}

// One pixel of a fade (no byte carries into the next: each result is at most 254) and of a mask.
std::uint32_t fade_pixel(std::uint32_t p, FadeTerms f) {
    return blend_scale_bytes(p, f.keep) + f.add;
}

std::uint32_t mask_pixel(std::uint32_t p, std::uint32_t m) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        out |= ((((p >> shift) & 0xFF) * ((m >> shift) & 0xFF)) >> 8) << shift;
    }
    return out;
}

// Where a blend's mask comes from: none, a picture, or one grey byte per pixel that stands for
// the picture pixel (0, g, g, g).
enum class MaskKind { none, picture, grey };

struct Mask {
    const Pixel32* picture = nullptr;
    const std::uint8_t* grey = nullptr;
};

template <MaskKind kind>
std::uint32_t mask_at(Mask m, int i) {
    return kind == MaskKind::grey ? m.grey[i] * 0x010101u : m.picture[i];
}

// `count` pixels of `in` faded (when `fade`) or multiplied by the mask (when `kind` is not none),
// into `out`, which may be `in`; pixels from `start` on. Each vector step is the per-pixel
// arithmetic above on 16-bit lanes. A byte p is widened into the high half of its lane, p × 256,
// so that the high half of the product with a factor f below 256 is (p × f) >> 8 itself, exactly;
// no lane exceeds 255 before the pack. The plain loop does the tail and builds without SSE2.
template <bool fade, MaskKind kind>
void blend_pixels(Pixel32* out, const Pixel32* in, int start, int count, FadeTerms f, Mask mask) {
    constexpr bool masked = kind != MaskKind::none;
    static_assert(fade != masked, "a blend either fades or multiplies by a mask");
    int i = start;
#if defined(BLEND_SSE2)
    const __m128i zero = _mm_setzero_si128();
    const __m128i keep16 = _mm_set1_epi16(static_cast<short>(f.keep));
    const __m128i add16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(f.add)), zero);
    const __m128i colour_bytes = _mm_set1_epi32(0x00FFFFFF);
    for (; i + 4 <= count; i += 4) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        __m128i m = zero;
        if (kind == MaskKind::picture) {
            m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask.picture + i));
        } else if (kind == MaskKind::grey) {
            // Four grey bytes, each doubled twice to fill its pixel, the top byte cleared.
            std::int32_t four;
            std::memcpy(&four, mask.grey + i, 4);
            m = _mm_cvtsi32_si128(four);
            m = _mm_unpacklo_epi8(m, m);
            m = _mm_and_si128(_mm_unpacklo_epi16(m, m), colour_bytes);
        }
        // Two pixels per register, widened to eight 16-bit lanes (each byte × 256), one half after
        // the other.
        const auto half = [&](__m128i wide, __m128i mask_lanes) {
            if (fade) return _mm_adds_epu16(_mm_mulhi_epu16(wide, keep16), add16);
            return _mm_mulhi_epu16(wide, mask_lanes);
        };
        const __m128i lo = half(_mm_unpacklo_epi8(zero, px), _mm_unpacklo_epi8(m, zero));
        const __m128i hi = half(_mm_unpackhi_epi8(zero, px), _mm_unpackhi_epi8(m, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
#endif
    // At most three pixels after the vector loop; any number without it.
    out += i, in += i;
    if (mask.picture) mask.picture += i;
    if (mask.grey) mask.grey += i;
    for (int k = 0; k < count - i; ++k) {
        std::uint32_t p = in[k];
        if (fade) p = fade_pixel(p, f);
        if (masked) p = mask_pixel(p, mask_at<kind>(mask, k));
        out[k] = p;
    }
}

#if defined(BLEND_AVX2)
const bool blend_have_avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));

// blend_pixels on eight pixels at a time, the rest by blend_pixels. Unpacking and packing both
// work within each 128-bit half, so the pixels come out in their places.
template <bool fade, MaskKind kind>
__attribute__((target("avx2"))) void blend_pixels_avx2(Pixel32* out, const Pixel32* in, int count,
                                                       FadeTerms f, Mask mask) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i keep16 = _mm256_set1_epi16(static_cast<short>(f.keep));
    const __m256i add16 = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(f.add)), zero);
    // Byte shuffles that make the mask lanes straight from eight grey bytes, laid out as the
    // unpacking lays out the pixels: grey_lo takes pixels 0, 1 (low 128 bits) and 4, 5 (high),
    // grey_hi pixels 2, 3 and 6, 7; each byte goes to the three colour lanes of its pixel, and
    // the top lane stays zero (−1 selects a zero byte).
    // clang-format off
    const __m256i grey_lo = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, -1, -1, 1, -1, 1, -1, 1, -1, -1, -1,
                                             4, -1, 4, -1, 4, -1, -1, -1, 5, -1, 5, -1, 5, -1, -1, -1);
    const __m256i grey_hi = _mm256_setr_epi8(2, -1, 2, -1, 2, -1, -1, -1, 3, -1, 3, -1, 3, -1, -1, -1,
                                             6, -1, 6, -1, 6, -1, -1, -1, 7, -1, 7, -1, 7, -1, -1, -1);
    // clang-format on
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        __m256i m_lo = zero, m_hi = zero;
        if (kind == MaskKind::picture) {
            const __m256i m =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask.picture + i));
            m_lo = _mm256_unpacklo_epi8(m, zero);
            m_hi = _mm256_unpackhi_epi8(m, zero);
        } else if (kind == MaskKind::grey) {
            std::int64_t eight;
            std::memcpy(&eight, mask.grey + i, 8);
            const __m256i g = _mm256_set1_epi64x(eight);
            m_lo = _mm256_shuffle_epi8(g, grey_lo);
            m_hi = _mm256_shuffle_epi8(g, grey_hi);
        }
        const auto half = [&](__m256i wide, __m256i mask_lanes) __attribute__((target("avx2"))) {
            if (fade) return _mm256_adds_epu16(_mm256_mulhi_epu16(wide, keep16), add16);
            return _mm256_mulhi_epu16(wide, mask_lanes);
        };
        const __m256i lo = half(_mm256_unpacklo_epi8(zero, px), m_lo);
        const __m256i hi = half(_mm256_unpackhi_epi8(zero, px), m_hi);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(lo, hi));
    }
    // Clean upper halves before any SSE code runs, the tail's or the caller's: the compiler
    // leaves them dirty across the tail call below, and the SSE2 mapper then ran 25 % slower.
    _mm256_zeroupper();
    blend_pixels<fade, kind>(out, in, i, count, f, mask);
}
#endif

template <bool fade, MaskKind kind>
void blend(Pixel32* out, const Pixel32* in, int count, FadeTerms f, Mask mask) {
#if defined(BLEND_AVX2)
    if (blend_have_avx2) return blend_pixels_avx2<fade, kind>(out, in, count, f, mask);
#endif
    blend_pixels<fade, kind>(out, in, 0, count, f, mask);
}

}  // namespace

void fade_to_color(Pixel32* out, const Pixel32* in, int count, std::uint32_t color,
                   std::int32_t amount) {
    blend<true, MaskKind::none>(out, in, count, fade_terms(color, amount), Mask{});
}

void multiply_mask(Pixel32* framebuffer, const Pixel32* mask) {
    blend<false, MaskKind::picture>(framebuffer, framebuffer, screen_pixels, FadeTerms{},
                                    Mask{.picture = mask});
}

void multiply_grey_mask(Pixel32* framebuffer, const std::uint8_t* grey) {
    blend<false, MaskKind::grey>(framebuffer, framebuffer, screen_pixels, FadeTerms{},
                                 Mask{.grey = grey});
}
