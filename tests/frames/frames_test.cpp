// The frame comparison's verdicts: exact where no tunnel shows, a 0.1 % allowance elsewhere.
#include "tests/frames/frames.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FramesMatch, ExactWithoutTheTunnelAndWithinATenthOfAPercentWithIt) {
    struct Case {
        const char* what;
        Pixel32 background;  // every reference pixel
        std::int32_t order;
        std::uint32_t differing;  // pixels of the other picture changed
        Pixel32 change;           // XORed into each changed pixel
        bool tunnel_free, pass;
    };
    const Case cases[] = {
        {"tunnel, identical", 0x00406080, 3, 0, 0, false, true},
        {"tunnel, 76 pixels off", 0x00406080, 3, 76, 1, false, true},
        {"tunnel, 77 pixels off", 0x00406080, 3, 77, 1, false, false},
        {"black frame, one pixel off", 0, 0, 1, 0x00010000, true, false},
        {"black frame, identical", 0, 9, 0, 0, true, true},
        {"end picture, one pixel off", 0x00406080, 18, 1, 1, true, false},
        {"end picture, identical", 0x00406080, 19, 0, 0, true, true},
        {"top byte only differs", 0, 0, 1, 0x01000000, true, false},
    };
    for (const Case& c : cases) {
        std::vector<Pixel32> reference(screen_pixels, c.background), other = reference;
        // Spread the changes over the picture, first and last pixels included.
        for (std::uint32_t i = 0; i < c.differing; ++i)
            other[(i * 1009 + screen_pixels - 1) % screen_pixels] ^= c.change;
        const FrameMatch m = frames_match(reference, other, c.order);
        EXPECT_EQ(m.same_pixels, screen_pixels - c.differing) << c.what;
        EXPECT_EQ(m.tunnel_free, c.tunnel_free) << c.what;
        EXPECT_EQ(m.pass, c.pass) << c.what;
    }
}

}  // namespace
