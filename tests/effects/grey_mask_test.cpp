// The grey copies of masks: made only for grey pictures, kept, and refused once the table is full.
#include "effects/grey_mask.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Room for more masks than the table holds: mask k starts at pixel k, so each has its own
// pointer and its own pixels.
Pixel32 pictures[screen_pixels + grey_mask_capacity + 1];

TEST(GreyMask, OnlyGreyPicturesGetAGreyFormAndItIsKept) {
    for (int i = 0; i < screen_pixels + grey_mask_capacity + 1; ++i)
        pictures[i] = (i * 7 % 256) * 0x010101u;
    const Pixel32* mask = pictures;
    const std::uint8_t* grey = grey_mask(mask);
    ASSERT_NE(grey, nullptr);
    for (int i = 0; i < screen_pixels; ++i) ASSERT_EQ(grey[i] * 0x010101u, mask[i]) << i;
    EXPECT_EQ(grey_mask(mask), grey);

    // One pixel with unequal colour bytes, or a top byte, and the picture has no grey form;
    // asking again does not change that.
    static Pixel32 tinted[screen_pixels], topped[screen_pixels];
    std::copy(mask, mask + screen_pixels, tinted);
    std::copy(mask, mask + screen_pixels, topped);
    tinted[screen_pixels - 1] ^= 0x000100;
    topped[12345] |= 0x01000000;
    for (const Pixel32* picture : {tinted, topped}) {
        EXPECT_EQ(grey_mask(picture), nullptr);
        EXPECT_EQ(grey_mask(picture), nullptr);
    }
}

TEST(GreyMask, AFullTableRefusesNewMasksAndKeepsTheOldOnes) {
    // Whatever earlier tests in this process took, new masks are accepted until the table is
    // full and refused after; the accepted ones keep their copies.
    const std::uint8_t* kept[grey_mask_capacity + 2] = {};
    int k = 1;
    for (; k <= grey_mask_capacity + 1; ++k) {
        kept[k] = grey_mask(pictures + k);
        if (!kept[k]) break;
    }
    const int accepted = k - 1;
    ASSERT_LE(k, grey_mask_capacity + 1) << "the table never filled";
    EXPECT_GE(accepted, grey_mask_capacity - 3);  // this file's other test takes three places
    EXPECT_EQ(grey_mask(pictures + k), nullptr);
    for (int j = 1; j <= accepted; ++j) {
        EXPECT_EQ(grey_mask(pictures + j), kept[j]);
        EXPECT_EQ(kept[j][0], pictures[j] & 0xFF);
    }
}

}  // namespace
