// Texture format preference and the SDL-format-to-converter mapping.
#include "display/fb_format.h"

#include <SDL.h>

// Deepest first. Every renderer takes RGB888 itself, the rarer ones SDL may convert on unlock.
// The X (padding) variants come first; the alpha variants are drawn with blending off, so their
// alpha byte is never looked at.
static constexpr std::uint32_t fb_candidates[] = {
    SDL_PIXELFORMAT_RGB888,   SDL_PIXELFORMAT_BGR888, SDL_PIXELFORMAT_ARGB8888,
    SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_RGB24,  SDL_PIXELFORMAT_BGR24,
    SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_BGR565, SDL_PIXELFORMAT_RGB555,
    SDL_PIXELFORMAT_BGR555,
};

// SDL reports its 555 formats as 15 bits per pixel; converters are chosen by storage size, so
// pass bytes per pixel × 8. SDL's masks describe the pixel as one little-endian value, the
// converters' own convention, so they pass unchanged.
ConvertFn fb_converter_for(std::uint32_t format) {
    int bpp = 0;
    Uint32 r = 0, g = 0, b = 0, a = 0;
    if (!SDL_PixelFormatEnumToMasks(format, &bpp, &r, &g, &b, &a)) return nullptr;
    return conv_request(SDL_BYTESPERPIXEL(format) * 8, r, g, b);
}

std::uint32_t fb_pick_format(FbAcceptFn accepted, void* context) {
    for (std::uint32_t format : fb_candidates) {
        if (fb_converter_for(format) && accepted(format, context)) return format;
    }
    return 0;
}
