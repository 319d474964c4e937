/* The data block's layout, stated once: each entry in block order, with its symbol, the
   generated file it holds and its size in bytes. Entries follow each other with no gaps. Plain
   preprocessor text, so that the C++ declarations (assets.h), the packer and the assembler
   sources that place the block all read this one table. */
#ifndef VORTA_ASSETS_BLOCK_LAYOUT_H
#define VORTA_ASSETS_BLOCK_LAYOUT_H

#define VORTA_MODULE_BYTES 582333           /* the slot the module generator fills exactly */
#define VORTA_TEXTURE_BYTES (256 * 256 * 4) /* one 256 × 256 texture, 4 bytes a texel */
#define VORTA_IMAGE_BYTES (320 * 240 * 4)   /* one screen-sized image, 4 bytes a pixel */

/* VORTA_BLOCK_ENTRIES(E) expands E(symbol, file, bytes) once per entry, in block order. */
#define VORTA_BLOCK_ENTRIES(E)                                \
    E(module_image, "module.xm", VORTA_MODULE_BYTES)          \
    E(texture_a, "texture_a.raw", VORTA_TEXTURE_BYTES)        \
    E(texture_b, "texture_b.raw", VORTA_TEXTURE_BYTES)        \
    E(mask_images_a, "mask_set_a.raw", 4 * VORTA_IMAGE_BYTES) \
    E(mask_images_b, "mask_set_b.raw", 4 * VORTA_IMAGE_BYTES) \
    E(mask_images_c, "mask_set_c.raw", 8 * VORTA_IMAGE_BYTES) \
    E(mask_images_d, "mask_set_d.raw", 4 * VORTA_IMAGE_BYTES) \
    E(end_picture, "end_picture.raw", VORTA_IMAGE_BYTES)

/* The block starts this many bytes past a 4-byte boundary, so that every entry after the
   module (odd-sized) sits on one and its images are read as 32-bit words in place. */
#define VORTA_BLOCK_LEAD ((4 - VORTA_MODULE_BYTES % 4) % 4)

#endif
