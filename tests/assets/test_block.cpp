// The embedded block as linked into the program: layout, alignment and the image formats.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>

#include "assets/assets.h"

namespace {

std::uint32_t byte_pixel(const std::uint8_t* image, std::size_t index) {
    const std::uint8_t* p = image + 4 * index;  // bytes blue, green, red, 0
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The assembler adds up the entries' offsets itself; they must be where the C++ side puts them.
TEST(Block, EveryEntryStandsAtItsOffset) {
    const std::uint8_t* base = asset_block;
    const void* entries[] = {module_image,  texture_a,     texture_b,     mask_set_a[0],
                             mask_set_b[0], mask_set_c[0], mask_set_d[0], end_picture};
    static_assert(std::size(entries) == block_entry_count);
    for (int i = 0; i < block_entry_count; ++i)
        EXPECT_EQ(entries[i], base + block_offset(i)) << block_entries[i].symbol;
    // Image i of a set is the i-th image of its stretch.
    for (int i = 0; i < mask_set_c_count; ++i)
        EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(mask_set_c[i]),
                  base + block_offset(block_mask_images_c) + i * image_bytes);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(mask_set_d[3]),
              base + block_offset(block_mask_images_d) + 3 * image_bytes);
}

TEST(Block, ImagesAreWordAlignedSoTheyReadInPlace) {
    for (const void* p :
         {static_cast<const void*>(texture_a), static_cast<const void*>(texture_b),
          static_cast<const void*>(mask_set_a[0]), static_cast<const void*>(end_picture)})
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 4, 0u);
}

TEST(Block, ModuleIsAnExtendedModule) {
    EXPECT_EQ(std::memcmp(module_image, "Extended Module: ", 17), 0);
}

TEST(Block, PixelsReadAsLittleEndianWordsWithATopByteOfZero) {
    // Row y, column x of a 320 × 240 image: the four bytes at 4 × (320y + x).
    const auto* end_bytes = reinterpret_cast<const std::uint8_t*>(end_picture);
    EXPECT_EQ(end_picture[320 * 100 + 17], byte_pixel(end_bytes, 320 * 100 + 17));
    // Texel (u, v): the four bytes at 4 × (256u + v).
    const auto* tex_bytes = reinterpret_cast<const std::uint8_t*>(texture_b);
    EXPECT_EQ(texture_b[256 * 200 + 3], byte_pixel(tex_bytes, 256 * 200 + 3));

    auto top_bytes_zero = [](std::span<const Pixel32> image) {
        for (Pixel32 p : image)
            if (p >> 24) return false;
        return true;
    };
    EXPECT_TRUE(top_bytes_zero({texture_a, 65536}));
    EXPECT_TRUE(top_bytes_zero({texture_b, 65536}));
    EXPECT_TRUE(top_bytes_zero({end_picture, screen_pixels}));
    for (const Pixel32* const* set : {mask_set_a, mask_set_b, mask_set_d})
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(top_bytes_zero({set[i], screen_pixels}));
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(top_bytes_zero({mask_set_c[i], screen_pixels}));
}

TEST(Block, MasksAreGreyscale) {
    for (const Pixel32* const* set : {mask_set_a, mask_set_b, mask_set_c, mask_set_d}) {
        int count = set == mask_set_c ? 8 : 4;
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < screen_pixels; ++k) {
                Pixel32 p = set[i][k];
                ASSERT_TRUE((p & 0xFF) == ((p >> 8) & 0xFF) && (p & 0xFF) == ((p >> 16) & 0xFF))
                    << "mask " << i << " pixel " << k;
            }
    }
}

}  // namespace
