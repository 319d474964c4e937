// PNG files of Pixel32 pictures. Each function returns 1 on success and 0 after printing
// the reason to stderr; `name` is the file's name in messages.
#pragma once

#include <cstdint>
#include <cstdio>

#include "assets/pixel.h"

// Writes a w × h picture (rows `pitch` pixels apart) as 8-bit RGB to `file`, flushed, left open.
int png_write_rgb(std::FILE* file, const char* name, const Pixel32* pixels, int w, int h,
                  int pitch);
// Writes a greyscale picture (red = green = blue) as 8-bit grey, taking the green channel.
int png_write_gray(std::FILE* file, const char* name, const Pixel32* pixels, int w, int h,
                   int pitch);
// Creates `path` and writes the picture, as grey when `grey_ok` and it is grey. Meant for files
// in a folder of the run's own: a failure leaves the partial file for the run to discard.
int png_save(const char* path, const Pixel32* pixels, int w, int h, int pitch, bool grey_ok);
// 1 when every pixel of the picture has red = green = blue.
int png_is_gray(const Pixel32* pixels, int w, int h, int pitch);
