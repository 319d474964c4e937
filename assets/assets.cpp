// Tables of references into the mask sets of the embedded block.
#include "assets/assets.h"

extern "C" {
extern const Pixel32 mask_images_a[mask_set_a_count][screen_pixels];
extern const Pixel32 mask_images_b[mask_set_b_count][screen_pixels];
extern const Pixel32 mask_images_c[mask_set_c_count][screen_pixels];
extern const Pixel32 mask_images_d[mask_set_d_count][screen_pixels];
}

const Pixel32* const mask_set_a[mask_set_a_count] = {mask_images_a[0], mask_images_a[1],
                                                     mask_images_a[2], mask_images_a[3]};
const Pixel32* const mask_set_b[mask_set_b_count] = {mask_images_b[0], mask_images_b[1],
                                                     mask_images_b[2], mask_images_b[3]};
const Pixel32* const mask_set_c[mask_set_c_count] = {
    mask_images_c[0], mask_images_c[1], mask_images_c[2], mask_images_c[3],
    mask_images_c[4], mask_images_c[5], mask_images_c[6], mask_images_c[7]};
const Pixel32* const mask_set_d[mask_set_d_count] = {mask_images_d[0], mask_images_d[1],
                                                     mask_images_d[2], mask_images_d[3]};
