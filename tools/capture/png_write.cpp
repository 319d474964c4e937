// PNG output through libpng's simplified writer on a stream the caller owns: libpng never
// opens, truncates or removes a file by name here.
#include "tools/capture/png_write.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Hands packed rows of `channels` bytes per pixel to libpng, then flushes the stream so that a
// full disk shows up here.
int write_packed(std::FILE* file, const char* name, const std::vector<std::uint8_t>& bytes, int w,
                 int h, int channels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    errno = 0;
    if (!png_image_write_to_stdio(&image, file, 0, bytes.data(), w * channels, nullptr)) {
        std::fprintf(stderr, "vorta-capture: cannot write %s: %s\n", name,
                     errno ? std::strerror(errno) : image.message);
        png_image_free(&image);
        return 0;
    }
    if (std::fflush(file) != 0) {
        std::fprintf(stderr, "vorta-capture: cannot write %s: %s\n", name, std::strerror(errno));
        return 0;
    }
    return 1;
}

}  // namespace

int png_write_rgb(std::FILE* file, const char* name, const Pixel32* pixels, int w, int h,
                  int pitch) {
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
    return write_packed(file, name, rgb, w, h, 3);
}

int png_write_gray(std::FILE* file, const char* name, const Pixel32* pixels, int w, int h,
                   int pitch) {
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(w) * h);
    std::uint8_t* out = gray.data();
    for (int y = 0; y < h; ++y) {
        const Pixel32* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < w; ++x) *out++ = static_cast<std::uint8_t>(row[x] >> 8);
    }
    return write_packed(file, name, gray, w, h, 1);
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

int png_save(const char* path, const Pixel32* pixels, int w, int h, int pitch, bool grey_ok) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "vorta-capture: cannot create %s: %s\n", path, std::strerror(errno));
        return 0;
    }
    const int ok = grey_ok && png_is_gray(pixels, w, h, pitch)
                       ? png_write_gray(file, path, pixels, w, h, pitch)
                       : png_write_rgb(file, path, pixels, w, h, pitch);
    if (std::fclose(file) != 0 && ok) {
        std::fprintf(stderr, "vorta-capture: cannot write %s: %s\n", path, std::strerror(errno));
        return 0;
    }
    return ok;
}
