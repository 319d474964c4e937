// PNG output through libpng's simplified writer, which checks every write and the close.
#include "tools/capture/png_write.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace {

// Hands packed rows of `channels` bytes per pixel to libpng.
int write_packed(const char* path, const std::vector<std::uint8_t>& bytes, int w, int h,
                 int channels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&image, path, 0, bytes.data(), w * channels, nullptr)) {
        std::fprintf(stderr, "vorta-capture: cannot write %s: %s\n", path, image.message);
        png_image_free(&image);
        return 0;
    }
    return 1;
}

}  // namespace

int png_write_rgb(const char* path, const Pixel32* pixels, int w, int h, int pitch) {
    // Pixel32 is 0x00RRGGBB; PNG wants the bytes red, green, blue.
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    std::uint8_t* out = rgb.data();
    for (int y = 0; y < h; ++y) {
        const Pixel32* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < w; ++x) {
            *out++ = static_cast<std::uint8_t>(row[x] >> 16);
            *out++ = static_cast<std::uint8_t>(row[x] >> 8);
            *out++ = static_cast<std::uint8_t>(row[x]);
        }
    }
    return write_packed(path, rgb, w, h, 3);
}

int png_write_gray(const char* path, const Pixel32* pixels, int w, int h, int pitch) {
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(w) * h);
    std::uint8_t* out = gray.data();
    for (int y = 0; y < h; ++y) {
        const Pixel32* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < w; ++x) *out++ = static_cast<std::uint8_t>(row[x] >> 8);
    }
    return write_packed(path, gray, w, h, 1);
}

int png_is_gray(const Pixel32* pixels, int w, int h, int pitch) {
    for (int y = 0; y < h; ++y) {
        const Pixel32* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < w; ++x) {
            const Pixel32 p = row[x];
            if (((p >> 16) & 0xFF) != ((p >> 8) & 0xFF) || ((p >> 8) & 0xFF) != (p & 0xFF)) {
                return 0;
            }
        }
    }
    return 1;
}
