// One byte per pixel for the masks that are grey, so that multiplying one reads a quarter of the
// memory. A mask comes in as a picture; a frame that shows a mask it has not shown before reads
// the whole picture from memory, which made such frames the slowest of the show.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// The grey form of the 320 × 240 picture `mask` for multiply_grey_mask, or nullptr when a pixel
// of it is not (0, g, g, g) or all grey_mask_capacity places are taken (then multiply_mask
// takes the picture itself). Each mask is read once, on its first call; later calls with the
// same pointer return the kept result, so a mask must not change once it has been passed here
// (the show's never do). Called from one thread.
inline constexpr int grey_mask_capacity = 32;
const std::uint8_t* grey_mask(const Pixel32* mask);
