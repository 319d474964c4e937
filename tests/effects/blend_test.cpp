// Checks the whole-frame blends against a naive per-byte model, lane by lane.
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
            fade_to_color(frame, color, amount);
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
        fade_to_color(frame, 0x00FF8001, pair[1]);
        std::copy(frame, frame + screen_pixels, expected);
        fill_ramp();
        fade_to_color(frame, 0x00FF8001, pair[0]);
        ASSERT_TRUE(std::equal(frame, frame + screen_pixels, expected)) << "amount " << pair[0];
    }
}

TEST(FadeToColor, WorkedCases) {
    // Half-way to white from black: (255 × 128) >> 8 = 127 per colour, top byte stays 0.
    fill(frame, 0x000000);
    fade_to_color(frame, 0xFFFFFF, 128);
    EXPECT_EQ(frame[0], 0x007F7F7Fu);
    EXPECT_EQ(frame[screen_pixels - 1], 0x007F7F7Fu);
    // Amount 0 is not a no-op: (255 × 255) >> 8 = 254.
    fill(frame, 0xFFFFFF);
    fade_to_color(frame, 0xFFFFFF, 0);
    EXPECT_EQ(frame[0], 0x00FEFEFEu);
    EXPECT_EQ(frame[screen_pixels - 1], 0x00FEFEFEu);
    // Full amount toward white: (255 × 255) >> 8 again, whatever was there.
    fill(frame, 0x00123456);
    fade_to_color(frame, 0xFFFFFF, 255);
    EXPECT_EQ(frame[screen_pixels / 2], 0x00FEFEFEu);
    // Full amount toward black: (p × 0) >> 8 + 0 = 0.
    fill(frame, 0x00FFFFFF);
    fade_to_color(frame, 0x000000, -1);
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

TEST(FadeAndMask, EqualsTheFadeThenTheMask) {
    static Pixel32 expected[screen_pixels];
    // Amounts at both ends, past 255 and negative; colours that saturate no lane and every lane.
    const struct {
        std::uint32_t color;
        std::int32_t amount;
    } cases[] = {{0xFFFFFF, 0},   {0xFFFFFF, 1},   {0xFFFFFF, 128}, {0xFFFFFF, 255},
                 {0x000000, 255}, {0xFF8001, 300}, {0x123456, -1},  {0xFFFFFFFF, 77}};
    for (const auto& c : cases) {
        for (int i = 0; i < screen_pixels; ++i) {
            frame[i] = pack(i, i + 85, 3 * i + 7, 255 - i);
            mask[i] = pack(i >> 8, 7 * i, (i >> 8) + 100, 255 - (i >> 8));
            expected[i] = model_multiply(model_fade(frame[i], c.color, c.amount), mask[i]);
        }
        fade_and_mask(frame, c.color, c.amount, mask);
        for (int i = 0; i < screen_pixels; ++i) {
            ASSERT_EQ(frame[i], expected[i])
                << "index " << i << ", colour " << c.color << ", amount " << c.amount;
        }
    }
}

TEST(Blends, TouchEveryPixelOfTheFrameAndNoMore) {
    frame_store[0] = 0xDEADBEEF;
    frame[screen_pixels - 1] = 0x00FFFFFF;
    frame[0] = 0x00FFFFFF;
    fade_to_color(frame, 0x000000, 255);
    EXPECT_EQ(frame[0], 0u);
    EXPECT_EQ(frame[screen_pixels - 1], 0u);
    EXPECT_EQ(frame_store[0], 0xDEADBEEFu);
    fill(mask, 0);
    frame[0] = frame[screen_pixels - 1] = 0x00FFFFFF;
    multiply_mask(frame, mask);
    EXPECT_EQ(frame[0], 0u);
    EXPECT_EQ(frame[screen_pixels - 1], 0u);
    EXPECT_EQ(frame_store[0], 0xDEADBEEFu);
    frame[0] = frame[screen_pixels - 1] = 0x00FFFFFF;
    fade_and_mask(frame, 0xFFFFFF, 10, mask);
    EXPECT_EQ(frame[0], 0u);
    EXPECT_EQ(frame[screen_pixels - 1], 0u);
    EXPECT_EQ(frame_store[0], 0xDEADBEEFu);
}
