// Row converters from the 32-bit framebuffer (0x00RRGGBB words) to the eight display formats.
#include "display/convert.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// SSSE3 and AVX2 as well with GCC and Clang on x86, each taken only where the processor reports
// it. Tests build this file again with VORTA_NO_AVX2 to check the SSE2 paths on any processor.
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && \
    !defined(VORTA_NO_AVX2)
#define CONV_RUNTIME_SIMD 1
#include <immintrin.h>
static const bool conv_have_ssse3 = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
static const bool conv_have_avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif

// Per-pixel rules. Channels are reduced by dropping low bits: no rounding, no dithering.
// p is 0x??RRGGBB; the top byte never reaches a 16- or 24-bit result.
static inline std::uint32_t px_bgr888(std::uint32_t p) {
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}
static inline std::uint16_t px_rgb565(std::uint32_t p) {
    return static_cast<std::uint16_t>(((p >> 8) & 0xF800) | ((p >> 5) & 0x07E0) |
                                      ((p >> 3) & 0x001F));
}
static inline std::uint16_t px_bgr565(std::uint32_t p) {
    return static_cast<std::uint16_t>(((p << 8) & 0xF800) | ((p >> 5) & 0x07E0) |
                                      ((p >> 19) & 0x001F));
}
static inline std::uint16_t px_rgb555(std::uint32_t p) {
    return static_cast<std::uint16_t>(((p >> 9) & 0x7C00) | ((p >> 6) & 0x03E0) |
                                      ((p >> 3) & 0x001F));
}
static inline std::uint16_t px_bgr555(std::uint32_t p) {
    return static_cast<std::uint16_t>(((p << 7) & 0x7C00) | ((p >> 6) & 0x03E0) |
                                      ((p >> 19) & 0x001F));
}

// Unaligned little-endian stores: display pitches promise no alignment, so memcpy does the write;
// on a little-endian machine it is one plain store.
template <typename T>
static inline void store_le(std::uint8_t* dst, T v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dst, &v, sizeof v);
    } else {
        for (std::size_t i = 0; i < sizeof v; i++) dst[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
static inline void store16(std::uint8_t* dst, std::uint16_t v) {
    store_le(dst, v);
}
static inline void store32(std::uint8_t* dst, std::uint32_t v) {
    store_le(dst, v);
}
static inline void store64(std::uint8_t* dst, std::uint64_t v) {
    store_le(dst, v);
}

#if defined(__SSE2__)
// Four 32-bit lanes each holding a 16-bit result (< 0x10000) packed to eight 16-bit lanes.
// packs_epi32 saturates signed, so each lane is first sign-extended from bit 15: the pack then
// keeps the low 16 bits unchanged even for values at or above 0x8000.
static inline __m128i pack_lanes16(__m128i a, __m128i b) {
    a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
    b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
    return _mm_packs_epi32(a, b);
}
static inline __m128i mask32(std::uint32_t m) {
    return _mm_set1_epi32(static_cast<int>(m));
}

// The 16-bit rules of the scalar helpers above, on four pixels at once.
static inline __m128i v_rgb565(__m128i p) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, 8), mask32(0xF800)),
                                     _mm_and_si128(_mm_srli_epi32(p, 5), mask32(0x07E0))),
                        _mm_and_si128(_mm_srli_epi32(p, 3), mask32(0x001F)));
}
static inline __m128i v_bgr565(__m128i p) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 8), mask32(0xF800)),
                                     _mm_and_si128(_mm_srli_epi32(p, 5), mask32(0x07E0))),
                        _mm_and_si128(_mm_srli_epi32(p, 19), mask32(0x001F)));
}
static inline __m128i v_rgb555(__m128i p) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, 9), mask32(0x7C00)),
                                     _mm_and_si128(_mm_srli_epi32(p, 6), mask32(0x03E0))),
                        _mm_and_si128(_mm_srli_epi32(p, 3), mask32(0x001F)));
}
static inline __m128i v_bgr555(__m128i p) {
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 7), mask32(0x7C00)),
                                     _mm_and_si128(_mm_srli_epi32(p, 6), mask32(0x03E0))),
                        _mm_and_si128(_mm_srli_epi32(p, 19), mask32(0x001F)));
}
static inline __m128i load4(const Pixel32* src) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
}
static inline void store16b(std::uint8_t* dst, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}
#endif

// 16-bit rows: blocks of 8 pixels (two 4-lane loads, one 16-byte store), then single words.
// A template over the two rules keeps one loop for the four formats.
#if defined(__SSE2__)
using VecRule = __m128i (*)(__m128i);
template <VecRule vec, std::uint16_t (*one)(std::uint32_t)>
static inline void conv_16(const Pixel32* src, std::uint8_t* dst, std::uint32_t count,
                           std::uint32_t i = 0) {
    for (; i + 8 <= count; i += 8) {
        store16b(dst + 2 * i, pack_lanes16(vec(load4(src + i)), vec(load4(src + i + 4))));
    }
    for (; i < count; i++) store16(dst + 2 * i, one(src[i]));
}
#else
template <std::uint16_t (*one)(std::uint32_t)>
static inline void conv_16(const Pixel32* src, std::uint8_t* dst, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; i++) store16(dst + 2 * i, one(src[i]));
}
#endif

void conv_32_rgb888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count) {
    // The display's layout is the framebuffer's own: a plain copy, fourth byte included.
    // An empty row may come with null pointers, which memcpy must never see.
    if (count != 0) std::memcpy(dst, src, static_cast<std::size_t>(count) * 4);
}

#if defined(CONV_RUNTIME_SIMD)
// Eight pixels per step: one byte shuffle per 128-bit half puts R, G, B, 0 in place. Returns
// the pixels done (a multiple of 8).
__attribute__((target("avx2"))) static std::uint32_t bgr888_avx2(const Pixel32* src,
                                                                 std::uint8_t* dst,
                                                                 std::uint32_t count) {
    const __m256i order = _mm256_setr_epi8(2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1,
                                           2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1);
    std::uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), _mm256_shuffle_epi8(p, order));
    }
    return i;
}

// 24-bit rows, sixteen pixels per step: a byte shuffle packs each four pixels' three bytes
// (`order` says which, and in which order) into 12 bytes, and byte shifts join the four groups
// into three full 16-byte stores. Nothing is written past pixel 16's last byte. Returns the
// pixels done (a multiple of 16).
__attribute__((target("ssse3"))) static inline __m128i packed24(const Pixel32* src, __m128i order) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), order);
}
__attribute__((target("ssse3"))) static std::uint32_t rows24_ssse3(const Pixel32* src,
                                                                   std::uint8_t* dst,
                                                                   std::uint32_t count,
                                                                   __m128i order) {
    std::uint32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = packed24(src + i, order), b = packed24(src + i + 4, order),
                      c = packed24(src + i + 8, order), d = packed24(src + i + 12, order);
        std::uint8_t* out = dst + 3 * i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                         _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                         _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    return i;
}
#endif

void conv_32_bgr888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count) {
    std::uint32_t i = 0;
#if defined(CONV_RUNTIME_SIMD)
    if (conv_have_avx2) i = bgr888_avx2(src, dst, count);
#endif
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        const __m128i p = load4(src + i);
        const __m128i v =
            _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 16), mask32(0xFF0000)),
                                      _mm_and_si128(p, mask32(0xFF00))),
                         _mm_and_si128(_mm_srli_epi32(p, 16), mask32(0xFF)));
        store16b(dst + 4 * i, v);
    }
#endif
    for (; i < count; i++) store32(dst + 4 * i, px_bgr888(src[i]));
}

// 24-bit rows: groups of 4 pixels become 12 bytes, written as one 8-byte and one 4-byte store;
// `swap` exchanges red and blue first. The tail moves three bytes per pixel.
template <bool swap>
static inline void conv_24(const Pixel32* src, std::uint8_t* dst, std::uint32_t count) {
    std::uint32_t i = 0;
#if defined(CONV_RUNTIME_SIMD)
    if (conv_have_ssse3) {
        // Source bytes B, G, R of each pixel (R, G, B when swapping); −1 leaves a zero.
        const __m128i order =
            swap ? _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                 : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        i = rows24_ssse3(src, dst, count, order);
    }
#endif
    for (; i + 4 <= count; i += 4) {
        std::uint64_t p[4];
        for (int k = 0; k < 4; k++) p[k] = (swap ? px_bgr888(src[i + k]) : src[i + k]) & 0xFFFFFF;
        // P0's three bytes, P1's three bytes, P2's low two; then P2's third byte and P3.
        store64(dst + 3 * i, p[0] | (p[1] << 24) | (p[2] << 48));
        store32(dst + 3 * i + 8, static_cast<std::uint32_t>((p[2] >> 16) | (p[3] << 8)));
    }
    for (; i < count; i++) {
        const std::uint32_t p = swap ? px_bgr888(src[i]) : src[i];
        const std::uint8_t b[3] = {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8),
                                   static_cast<std::uint8_t>(p >> 16)};
        std::memcpy(dst + 3 * i, b, 3);
    }
}

void conv_24_rgb888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count) {
    conv_24<false>(src, dst, count);
}
void conv_24_bgr888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count) {
    conv_24<true>(src, dst, count);
}

#if defined(__SSE2__)
#if defined(CONV_RUNTIME_SIMD)
// A field of a 16-bit rule: the pixel shifted right by `shift` (left when negative), masked.
template <int shift>
__attribute__((target("avx2"))) static inline __m256i field16(__m256i p, std::uint32_t mask) {
    const __m256i moved = shift >= 0 ? _mm256_srli_epi32(p, shift) : _mm256_slli_epi32(p, -shift);
    return _mm256_and_si256(moved, _mm256_set1_epi32(static_cast<int>(mask)));
}

// Eight pixels through a 16-bit rule, one word in each 32-bit lane.
template <int s0, std::uint32_t m0, int s1, std::uint32_t m1, int s2, std::uint32_t m2>
__attribute__((target("avx2"))) static inline __m256i word16(const Pixel32* src) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    return _mm256_or_si256(_mm256_or_si256(field16<s0>(p, m0), field16<s1>(p, m1)),
                           field16<s2>(p, m2));
}

// 16-bit rows, sixteen pixels per step, for the rule (p >> s0 & m0) | (p >> s1 & m1) |
// (p >> s2 & m2) that the scalar helpers above spell out. Returns the pixels done.
template <int s0, std::uint32_t m0, int s1, std::uint32_t m1, int s2, std::uint32_t m2>
__attribute__((target("avx2"))) static std::uint32_t rows16_avx2(const Pixel32* src,
                                                                 std::uint8_t* dst,
                                                                 std::uint32_t count) {
    std::uint32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = word16<s0, m0, s1, m1, s2, m2>(src + i);
        const __m256i b = word16<s0, m0, s1, m1, s2, m2>(src + i + 8);
        // Words below 0x10000 pack exactly with unsigned saturation; the pack works per 128-bit
        // half, and the 64-bit permutation puts the four groups of four back in pixel order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 2 * i),
                            _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8));
    }
    return i;
}
#endif

// Where the SSE2 loop starts: after the rows the AVX2 loop has done, if the processor has it.
template <int s0, std::uint32_t m0, int s1, std::uint32_t m1, int s2, std::uint32_t m2>
static inline std::uint32_t start16([[maybe_unused]] const Pixel32* s,
                                    [[maybe_unused]] std::uint8_t* d,
                                    [[maybe_unused]] std::uint32_t n) {
#if defined(CONV_RUNTIME_SIMD)
    if (conv_have_avx2) return rows16_avx2<s0, m0, s1, m1, s2, m2>(s, d, n);
#endif
    return 0;
}

// Each format's rule once more as shifts and masks for the AVX2 rows: a negative shift is left.
void conv_16_rgb565(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<v_rgb565, px_rgb565>(s, d, n, start16<8, 0xF800, 5, 0x07E0, 3, 0x001F>(s, d, n));
}
void conv_16_bgr565(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<v_bgr565, px_bgr565>(s, d, n, start16<-8, 0xF800, 5, 0x07E0, 19, 0x001F>(s, d, n));
}
void conv_16_rgb555(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<v_rgb555, px_rgb555>(s, d, n, start16<9, 0x7C00, 6, 0x03E0, 3, 0x001F>(s, d, n));
}
void conv_16_bgr555(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<v_bgr555, px_bgr555>(s, d, n, start16<-7, 0x7C00, 6, 0x03E0, 19, 0x001F>(s, d, n));
}
#else
void conv_16_rgb565(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<px_rgb565>(s, d, n);
}
void conv_16_bgr565(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<px_bgr565>(s, d, n);
}
void conv_16_rgb555(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<px_rgb555>(s, d, n);
}
void conv_16_bgr555(const Pixel32* s, std::uint8_t* d, std::uint32_t n) {
    conv_16<px_bgr555>(s, d, n);
}
#endif

ConvertFn conv_request(std::uint32_t bit_count, std::uint32_t red_mask, std::uint32_t green_mask,
                       std::uint32_t blue_mask) {
    // Masks describe a pixel as one little-endian value; all three must match a row exactly.
    // The alpha mask is never consulted.
    static constexpr struct {
        std::uint32_t bits, red, green, blue;
        ConvertFn fn;
    } formats[] = {
        {32, 0xFF0000, 0xFF00, 0xFF, conv_32_rgb888}, {32, 0xFF, 0xFF00, 0xFF0000, conv_32_bgr888},
        {24, 0xFF0000, 0xFF00, 0xFF, conv_24_rgb888}, {24, 0xFF, 0xFF00, 0xFF0000, conv_24_bgr888},
        {16, 0xF800, 0x7E0, 0x1F, conv_16_rgb565},    {16, 0x1F, 0x7E0, 0xF800, conv_16_bgr565},
        {16, 0x7C00, 0x3E0, 0x1F, conv_16_rgb555},    {16, 0x1F, 0x3E0, 0x7C00, conv_16_bgr555},
    };
    for (const auto& f : formats) {
        if (f.bits == bit_count && f.red == red_mask && f.green == green_mask &&
            f.blue == blue_mask) {
            return f.fn;
        }
    }
    return nullptr;
}
