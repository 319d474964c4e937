// Row converters from the 32-bit framebuffer to the display's pixel formats.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// Converts `count` source pixels into `count` destination pixels at `dst` (any alignment).
// Reads exactly `count` source pixels and writes exactly count × bytes-per-pixel bytes.
using ConvertFn = void (*)(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);

void conv_32_rgb888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);
void conv_32_bgr888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);
void conv_24_rgb888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);
void conv_24_bgr888(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);
void conv_16_rgb565(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);
void conv_16_bgr565(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);
void conv_16_rgb555(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);
void conv_16_bgr555(const Pixel32* src, std::uint8_t* dst, std::uint32_t count);

// The converter for a display format given as storage bits per pixel and channel masks, or
// nullptr when the format is not one of the eight supported.
ConvertFn conv_request(std::uint32_t bit_count, std::uint32_t red_mask, std::uint32_t green_mask,
                       std::uint32_t blue_mask);
