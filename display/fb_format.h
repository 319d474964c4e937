// The texture format of the accelerated path: the deepest the renderer accepts that has a row
// converter.
#pragma once

#include <cstdint>

#include "display/convert.h"

// Asks whether the renderer takes an SDL pixel format (and may keep what it made to find out).
using FbAcceptFn = int (*)(std::uint32_t format, void* context);

// The first format in order of preference (32, then 24, then 16 bits per pixel) that has a
// converter and that `accepted` takes; 0 when there is none. `accepted` is asked about no
// format after the one chosen.
std::uint32_t fb_pick_format(FbAcceptFn accepted, void* context);
// The row converter for an SDL pixel format, or nullptr.
ConvertFn fb_converter_for(std::uint32_t format);
