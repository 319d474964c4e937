// Typesetting onto a canvas with FreeType: a few faces, measured and drawn by the pixel.
#pragma once

#include "tools/masks/canvas.h"

// The faces the pictures are set in.
enum Font {
    font_bold,       // DejaVu Sans Bold: titles and big words
    font_condensed,  // DejaVu Sans Condensed Bold: numerals and tall words
    font_light,      // DejaVu Sans ExtraLight: captions
    font_mono,       // DejaVu Sans Mono: small labels and counters
    font_count
};

// Where the x given to type_draw sits on the line.
enum Align { align_left, align_center, align_right };

// Loads every face from the folder `font_dir`. On failure prints which file failed to stderr
// and returns false; type_close is then still safe.
bool type_open(const char* font_dir);
// Releases the faces and the library.
void type_close();
// Advance width in pixels of `text` at `size` pixels per em, `tracking` extra pixels after
// each letter but the last.
float type_width(Font font, float size, const char* text, float tracking = 0.0f);
// Height of the capital letters above the baseline, in pixels, at `size`.
float type_cap_height(Font font, float size);
// Sets `text` (ASCII) on the baseline y, anchored at x as `align` says, in `color`.
void type_draw(Canvas& canvas, Font font, float size, float x, float baseline, const char* text,
               Rgb color, Align align = align_left, float tracking = 0.0f);
