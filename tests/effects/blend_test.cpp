// Checks the blends against a naive per-byte model, lane by lane.
#include "effects/blend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// One pixel past a 16-byte boundary, so the frame is never aligned for vector loads.
alignas(16) Pixel32 frame_store[screen_pixels + 1];
alignas(16) Pixel32 mask_store[screen_pixels + 3];
Pixel32* const frame = frame_store + 1;
Pixel32* const mask = mask_store + 3;

std::uint32_t byte_of(std::uint32_t word, int k) {
    return (word >> (8 * k)) & 0xFF;
}

// Reference fade, written from the per-channel formula, one byte at a time.
std::uint32_t model_fade(std::uint32_t p, std::uint32_t color, std::int32_t amount) {
    const std::uint32_t a = static_cast<std::uint8_t>(amount);
    std::uint32_t out = 0;
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t v = ((byte_of(p, k) * (255 - a)) >> 8) + ((byte_of(color, k) * a) >> 8);
        out |= std::min<std::uint32_t>(v, 255) << (8 * k);
    }
    return out;
}

std::uint32_t model_multiply(std::uint32_t p, std::uint32_t m) {
    std::uint32_t out = 0;
    for (int k = 0; k < 4; ++k) out |= ((byte_of(p, k) * byte_of(m, k)) >> 8) << (8 * k);
    return out;
}

std::uint32_t pack(std::uint32_t b0, std::uint32_t b1, std::uint32_t b2, std::uint32_t b3) {
    return (b0 & 0xFF) | (b1 & 0xFF) << 8 | (b2 & 0xFF) << 16 | (b3 & 0xFF) << 24;
}

// Every lane runs through all 256 values, with a different value in each lane of a pixel.
void fill_ramp() {
    for (int i = 0; i < screen_pixels; ++i) frame[i] = pack(i, i + 85, 3 * i + 7, 255 - i);
}

void fill(Pixel32* image, std::uint32_t value) {
    std::fill(image, image + screen_pixels, value);
}

}  // namespace

TEST(FadeToColor, MatchesFormulaForEveryValueAndAmount) {
    // Colours with four different bytes (top byte too), plus black and white.
    const std::uint32_t colors[] = {0x000000, 0xFFFFFF, 0xFFFFFFFF, 0x80FF0140, 0x01C07FFE};
    for (const std::uint32_t color : colors) {
        for (std::int32_t amount = 0; amount < 256; ++amount) {
            fill_ramp();
            fade_to_color(frame, frame, screen_pixels, color, amount);
            for (int i = 0; i < screen_pixels; ++i) {
                const std::uint32_t before = pack(i, i + 85, 3 * i + 7, 255 - i);
                ASSERT_EQ(frame[i], model_fade(before, color, amount))
                    << std::hex << "pixel " << before << " colour " << color << std::dec
                    << " amount " << amount << " index " << i;
            }
        }
    }
}

TEST(FadeToColor, UsesOnlyTheLowEightBitsOfTheAmount) {
    const std::int32_t pairs[][2] = {{256, 0},           {-1, 255},      {-256, 0},
                                     {0x12345680, 0x80}, {INT32_MIN, 0}, {INT32_MAX, 255}};
    static Pixel32 expected[screen_pixels];
    for (const auto& pair : pairs) {
        fill_ramp();
        fade_to_color(frame, frame, screen_pixels, 0x00FF8001, pair[1]);
        std::copy(frame, frame + screen_pixels, expected);
        fill_ramp();
        fade_to_color(frame, frame, screen_pixels, 0x00FF8001, pair[0]);
        ASSERT_TRUE(std::equal(frame, frame + screen_pixels, expected)) << "amount " << pair[0];
    }
}

TEST(FadeToColor, WorkedCases) {
    // Half-way to white from black: (255 × 128) >> 8 = 127 per colour, top byte stays 0.
    fill(frame, 0x000000);
    fade_to_color(frame, frame, screen_pixels, 0xFFFFFF, 128);
    EXPECT_EQ(frame[0], 0x007F7F7Fu);
    EXPECT_EQ(frame[screen_pixels - 1], 0x007F7F7Fu);
    // Amount 0 is not a no-op: (255 × 255) >> 8 = 254.
    fill(frame, 0xFFFFFF);
    fade_to_color(frame, frame, screen_pixels, 0xFFFFFF, 0);
    EXPECT_EQ(frame[0], 0x00FEFEFEu);
    EXPECT_EQ(frame[screen_pixels - 1], 0x00FEFEFEu);
    // Full amount toward white: (255 × 255) >> 8 again, whatever was there.
    fill(frame, 0x00123456);
    fade_to_color(frame, frame, screen_pixels, 0xFFFFFF, 255);
    EXPECT_EQ(frame[screen_pixels / 2], 0x00FEFEFEu);
    // Full amount toward black: (p × 0) >> 8 + 0 = 0.
    fill(frame, 0x00FFFFFF);
    fade_to_color(frame, frame, screen_pixels, 0x000000, -1);
    EXPECT_EQ(frame[screen_pixels / 2], 0u);
}

TEST(MultiplyMask, MatchesFormulaForEveryValueAndMaskPair) {
    // Lane 0 of pixel i holds value i & 255 and mask i >> 8, so the first 65536 pixels cover
    // every pair; the other lanes see the same pairs shifted, all four lanes different.
    for (int i = 0; i < screen_pixels; ++i) {
        frame[i] = pack(i, i + 1, i + 2, i + 3);
        mask[i] = pack(i >> 8, (i >> 8) + 50, (i >> 8) + 100, (i >> 8) + 150);
    }
    multiply_mask(frame, mask);
    for (int i = 0; i < screen_pixels; ++i) {
        ASSERT_EQ(frame[i], model_multiply(pack(i, i + 1, i + 2, i + 3), mask[i])) << "index " << i;
    }
}

TEST(MultiplyMask, GreyBytesGiveThePixelsOfTheirPicture) {
    // Every grey level against every value in each lane, as above: the grey path must give what
    // the picture (0, g, g, g) gives, the top byte cleared as by the picture's zero.
    alignas(16) static std::uint8_t grey_store[screen_pixels + 1];
    std::uint8_t* const grey = grey_store + 1;
    static Pixel32 want[screen_pixels];
    for (int i = 0; i < screen_pixels; ++i) {
        frame[i] = pack(i, i + 1, i + 2, i + 3);
        grey[i] = static_cast<std::uint8_t>(i >> 8);
        mask[i] = grey[i] * 0x010101u;
    }
    std::memcpy(want, frame, sizeof want);
    multiply_mask(want, mask);
    multiply_grey_mask(frame, grey);
    for (int i = 0; i < screen_pixels; ++i) ASSERT_EQ(frame[i], want[i]) << "index " << i;
}

TEST(MultiplyMask, WhiteMaskScalesByTwoFiftyFiveOverTwoFiftySix) {
    fill(mask, 0xFFFFFF);
    fill(frame, 0x00FF8040);
    multiply_mask(frame, mask);
    // 255 → 254, 128 → 127, 64 → 63; the mask's top byte is 0, so the top byte clears.
    EXPECT_EQ(frame[0], 0x00FE7F3Fu);
    EXPECT_EQ(frame[screen_pixels - 1], 0x00FE7F3Fu);
    // Black ink blacks out whatever is underneath.
    fill(mask, 0x000000);
    fill(frame, 0xFFFFFFFF);
    multiply_mask(frame, mask);
    EXPECT_EQ(frame[screen_pixels / 3], 0u);
}

TEST(FadeToColor, CopiesAnyCountFromAnotherPictureAndWritesNoMore) {
    // Counts around the vector widths, from and to places off every alignment; the source stays
    // as it was and the pixels past the count are not written.
    alignas(32) static Pixel32 source_store[64 + 3];
    alignas(32) static Pixel32 target_store[64 + 2];
    const Pixel32* const source = source_store + 3;
    Pixel32* const target = target_store + 1;
    for (int i = 0; i < 64 + 3; ++i) source_store[i] = pack(7 * i, 255 - i, 3 * i, i + 40);
    for (const int count : {0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 63}) {
        std::fill(target_store, target_store + 64 + 2, 0xDEADBEEF);
        fade_to_color(target, source, count, 0x80FF0140, 77);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(target[i], model_fade(source[i], 0x80FF0140, 77))
                << "count " << count << " index " << i;
        EXPECT_EQ(target_store[0], 0xDEADBEEFu) << "count " << count;
        EXPECT_EQ(target[count], 0xDEADBEEFu) << "count " << count;
    }
    for (int i = 0; i < 64 + 3; ++i)
        ASSERT_EQ(source_store[i], pack(7 * i, 255 - i, 3 * i, i + 40));
}

TEST(Blends, TouchEveryPixelOfTheFrameAndNoMore) {
    frame_store[0] = 0xDEADBEEF;
    frame[screen_pixels - 1] = 0x00FFFFFF;
    frame[0] = 0x00FFFFFF;
    fade_to_color(frame, frame, screen_pixels, 0x000000, 255);
    EXPECT_EQ(frame[0], 0u);
    EXPECT_EQ(frame[screen_pixels - 1], 0u);
    EXPECT_EQ(frame_store[0], 0xDEADBEEFu);
    fill(mask, 0);
    frame[0] = frame[screen_pixels - 1] = 0x00FFFFFF;
    multiply_mask(frame, mask);
    EXPECT_EQ(frame[0], 0u);
    EXPECT_EQ(frame[screen_pixels - 1], 0u);
    EXPECT_EQ(frame_store[0], 0xDEADBEEFu);
}
