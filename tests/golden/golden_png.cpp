// Golden frame pictures through libpng's simplified API.
#include "tests/golden/golden_png.h"

#include <png.h>

#include <cstdio>
#include <vector>

int golden_png_read(const char* path, Pixel32* frame) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) {
        std::fprintf(stderr, "golden: cannot read %s: %s\n", path, image.message);
        return 0;
    }
    if (image.width != screen_width || image.height != screen_height) {
        std::fprintf(stderr, "golden: %s is %ux%u, not %dx%d\n", path, image.width, image.height,
                     screen_width, screen_height);
        png_image_free(&image);
        return 0;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "golden: cannot read %s: %s\n", path, image.message);
        png_image_free(&image);
        return 0;
    }
    for (int i = 0; i < screen_pixels; ++i) {
        const std::uint8_t* p = &rgb[3 * static_cast<std::size_t>(i)];
        frame[i] = static_cast<Pixel32>(p[0]) << 16 | static_cast<Pixel32>(p[1]) << 8 | p[2];
    }
    return 1;
}

int golden_png_write(const char* path, const Pixel32* frame) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(screen_pixels) * 3);
    for (int i = 0; i < screen_pixels; ++i) {
        rgb[3 * i + 0] = static_cast<std::uint8_t>(frame[i] >> 16);
        rgb[3 * i + 1] = static_cast<std::uint8_t>(frame[i] >> 8);
        rgb[3 * i + 2] = static_cast<std::uint8_t>(frame[i]);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = screen_width;
    image.height = screen_height;
    image.format = PNG_FORMAT_RGB;
    // libpng's writer removes a file it could not finish.
    if (!png_image_write_to_file(&image, path, 0, rgb.data(), screen_width * 3, nullptr)) {
        std::fprintf(stderr, "golden: cannot write %s: %s\n", path, image.message);
        png_image_free(&image);
        return 0;
    }
    return 1;
}
