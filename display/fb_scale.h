// Whole-number scaling of the framebuffer into a window-sized pixel buffer: where the picture
// goes, and the blit that converts and enlarges it in one pass.
#pragma once

#include "assets/pixel.h"
#include "display/convert.h"

// Where a w × h picture lands in an out_w × out_h buffer: each source pixel becomes a
// scale × scale block, the picture centred. Only src_w × src_h source pixels from
// (src_x, src_y) are shown, all of them unless the buffer is smaller than the picture.
struct FbLayout {
    int scale;
    int dst_x, dst_y;  // top-left corner of the picture in the buffer, in buffer pixels
    int src_x, src_y, src_w, src_h;
};

// The largest scale that fits, at least 1: a buffer smaller than the picture shows its centre.
FbLayout fb_layout(int out_w, int out_h, int w, int h);

// Converts the visible rows of `src` (rows of `src_pitch` pixels) with `convert` into the
// buffer at `dst` (bytes_per_pixel 2, 3 or 4, rows `pitch` bytes apart), enlarged as `l` says.
// Writes only inside the picture's rectangle; the bars around it are left as they are.
void fb_blit_scaled(const Pixel32* src, int src_pitch, const FbLayout& l, ConvertFn convert,
                    int bytes_per_pixel, void* dst, int pitch);
