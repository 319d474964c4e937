// The show's typographic mask sets and its closing picture, drawn onto canvases.
#pragma once

#include "tools/masks/canvas.h"

// One mask set: how many images it has, and how to draw image i (0 ≤ i < count) onto a canvas,
// which the draw function clears first. Images are pure grey.
struct MaskSet {
    int count;
    void (*draw)(Canvas& canvas, int index);
};

// The four sets in the order of the block: a (4 images), b (4), c (8), d (4).
extern const MaskSet mask_sets[4];

// Draws the closing colour picture with the title.
void end_picture_draw(Canvas& canvas);
