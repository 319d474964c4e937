// 8-bit RGB PNG files of 320 × 240 frames for the golden set. Both return 1 on success and 0
// after printing the reason to stderr.
#pragma once

#include "assets/pixel.h"

// Reads a 320 × 240 picture into `frame` (top byte 0); any other size is an error.
int golden_png_read(const char* path, Pixel32* frame);
// Writes `frame` (its top bytes dropped); a failed write leaves no file behind.
int golden_png_write(const char* path, const Pixel32* frame);
