// The embedded data block: the module and every picture of the show, read in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "assets/block_layout.h"
#include "assets/pixel.h"

// One entry of the block: the name of its symbol, the generated file it holds, its size.
struct BlockEntry {
    const char* symbol;
    const char* file;
    std::size_t bytes;
};

// The entries in block order, from the one layout table (assets/block_layout.h).
#define VORTA_AS_ENTRY(symbol, file, bytes) BlockEntry{#symbol, file, bytes},
inline constexpr BlockEntry block_entries[] = {VORTA_BLOCK_ENTRIES(VORTA_AS_ENTRY)};
#undef VORTA_AS_ENTRY

// The position of each entry in block_entries, named after its symbol.
#define VORTA_AS_INDEX(symbol, file, bytes) block_##symbol,
enum BlockIndex : int { VORTA_BLOCK_ENTRIES(VORTA_AS_INDEX) block_entry_count };
#undef VORTA_AS_INDEX

// Bytes from the block's start to entry `index` (block_entry_count: the block's length).
constexpr std::size_t block_offset(int index) {
    std::size_t at = 0;
    for (int i = 0; i < index; ++i) at += block_entries[i].bytes;
    return at;
}

inline constexpr std::size_t module_length = block_entries[block_module_image].bytes;
inline constexpr std::size_t texture_bytes = VORTA_TEXTURE_BYTES;
inline constexpr std::size_t image_bytes = VORTA_IMAGE_BYTES;
inline constexpr std::size_t block_length = block_offset(block_entry_count);
static_assert(texture_bytes == texture_texels * sizeof(Pixel32) &&
              image_bytes == screen_pixels * sizeof(Pixel32));

// True when every entry after the module starts on a 4-byte boundary, given the block's lead.
constexpr bool block_images_aligned() {
    for (int i = block_texture_a; i < block_entry_count; ++i)
        if ((VORTA_BLOCK_LEAD + block_offset(i)) % 4 != 0) return false;
    return true;
}
static_assert(block_module_image == 0 && block_images_aligned());

inline constexpr int mask_set_a_count = block_entries[block_mask_images_a].bytes / image_bytes;
inline constexpr int mask_set_b_count = block_entries[block_mask_images_b].bytes / image_bytes;
inline constexpr int mask_set_c_count = block_entries[block_mask_images_c].bytes / image_bytes;
inline constexpr int mask_set_d_count = block_entries[block_mask_images_d].bytes / image_bytes;

// The block and its entries, placed by the assembler sources in assets/ from the layout table;
// every image is read as Pixel32 words in place.
extern "C" {
extern const std::uint8_t asset_block[block_length];
extern const std::uint8_t module_image[module_length];
extern const Pixel32 texture_a[texture_texels];  // tunnel texture of the first half
extern const Pixel32 texture_b[texture_texels];  // tunnel texture of the second half
extern const Pixel32 end_picture[screen_pixels];
}

// The mask sets as tables of image references, in the order stored.
extern const Pixel32* const mask_set_a[mask_set_a_count];
extern const Pixel32* const mask_set_b[mask_set_b_count];
extern const Pixel32* const mask_set_c[mask_set_c_count];
extern const Pixel32* const mask_set_d[mask_set_d_count];
