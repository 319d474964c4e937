// PNG files of Pixel32 pictures. Each function returns 1 on success and 0 after printing
// the reason to stderr; a failed write leaves no file behind.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// Writes a w × h picture (rows `pitch` pixels apart) as 8-bit RGB.
int png_write_rgb(const char* path, const Pixel32* pixels, int w, int h, int pitch);
// Writes a greyscale picture (red = green = blue) as 8-bit grey, taking the green channel.
int png_write_gray(const char* path, const Pixel32* pixels, int w, int h, int pitch);
// 1 when every pixel of the picture has red = green = blue.
int png_is_gray(const Pixel32* pixels, int w, int h, int pitch);
