// The embedded data block: the module and every picture of the show, read in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "assets/pixel.h"

// Layout of the block, in bytes from its start. Entries follow each other with no gaps.
inline constexpr std::size_t module_offset = 0;
inline constexpr std::size_t module_length = 582333;
inline constexpr std::size_t texture_bytes = 256 * 256 * 4;
inline constexpr std::size_t image_bytes = screen_pixels * 4;
inline constexpr std::size_t texture_a_offset = module_offset + module_length;  // 582333
inline constexpr std::size_t texture_b_offset = texture_a_offset + texture_bytes;
inline constexpr std::size_t mask_set_a_offset = texture_b_offset + texture_bytes;
inline constexpr std::size_t mask_set_b_offset = mask_set_a_offset + 4 * image_bytes;
inline constexpr std::size_t mask_set_c_offset = mask_set_b_offset + 4 * image_bytes;
inline constexpr std::size_t mask_set_d_offset = mask_set_c_offset + 8 * image_bytes;
inline constexpr std::size_t end_picture_offset = mask_set_d_offset + 4 * image_bytes;
inline constexpr std::size_t block_length = end_picture_offset + image_bytes;  // 7557821

static_assert(texture_a_offset == 582333 && mask_set_a_offset == 1106621);
static_assert(mask_set_c_offset == 3564221 && end_picture_offset == 7250621);
static_assert(block_length == 7557821);

inline constexpr int mask_set_a_count = 4;
inline constexpr int mask_set_b_count = 4;
inline constexpr int mask_set_c_count = 8;
inline constexpr int mask_set_d_count = 4;

// The block and its entries, defined by the linker (assets/block.S). The block starts three
// bytes past a 4-byte boundary, so that every image after the odd-length module sits on a
// 4-byte boundary and is read as Pixel32 words in place.
extern "C" {
extern const std::uint8_t asset_block[block_length];
extern const std::uint8_t module_image[module_length];
extern const Pixel32 texture_a[256 * 256];  // tunnel texture of the first half
extern const Pixel32 texture_b[256 * 256];  // tunnel texture of the second half
extern const Pixel32 end_picture[screen_pixels];
}

// The mask sets as tables of image references, in the order stored.
extern const Pixel32* const mask_set_a[mask_set_a_count];
extern const Pixel32* const mask_set_b[mask_set_b_count];
extern const Pixel32* const mask_set_c[mask_set_c_count];
extern const Pixel32* const mask_set_d[mask_set_d_count];
