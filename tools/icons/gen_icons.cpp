// Build-time tool: turns the closing picture into the application icon at every hicolor size.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/icons/icon.h"
#include "tools/write_file.h"

namespace {

constexpr std::size_t picture_bytes = screen_pixels * sizeof(Pixel32);

// Reads the raw closing picture (76800 little-endian Pixel32 words). 1 on success.
int read_picture(const char* path, Pixel32* picture) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fputs("gen_icons: cannot open ", stderr);
        std::perror(path);
        return 0;
    }
    unsigned char bytes[4];
    std::size_t got = 0;
    for (; got < screen_pixels && std::fread(bytes, 1, 4, f) == 4; ++got) {
        picture[got] = Pixel32{bytes[0]} | Pixel32{bytes[1]} << 8 | Pixel32{bytes[2]} << 16 |
                       Pixel32{bytes[3]} << 24;
    }
    const bool extra = std::fgetc(f) != EOF;
    std::fclose(f);
    if (got != screen_pixels || extra) {
        std::fprintf(stderr, "gen_icons: %s is not a %zu-byte picture\n", path, picture_bytes);
        return 0;
    }
    return 1;
}

// Encodes a size × size RGBA picture as PNG and writes it whole; a failed write leaves no
// file. 1 on success.
int write_png(const std::string& path, const std::uint8_t* rgba, int size) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(size);
    image.height = static_cast<png_uint_32>(size);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t bytes = 0;
    // The first call measures, the second encodes.
    if (!png_image_write_to_memory(&image, nullptr, &bytes, 0, rgba, 0, nullptr)) {
        std::fprintf(stderr, "gen_icons: cannot encode %s: %s\n", path.c_str(), image.message);
        return 0;
    }
    std::vector<unsigned char> png(bytes);
    if (!png_image_write_to_memory(&image, png.data(), &bytes, 0, rgba, 0, nullptr)) {
        std::fprintf(stderr, "gen_icons: cannot encode %s: %s\n", path.c_str(), image.message);
        return 0;
    }
    if (!tool_write_file("gen_icons", path.c_str(), png.data(), bytes)) {
        std::remove(path.c_str());
        return 0;
    }
    return 1;
}

}  // namespace

// Exit status: 0 done, 1 the picture or an icon file failed, 2 wrong arguments.
int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs(
            "usage: gen_icons END_PICTURE OUTPUT_DIR\n"
            "writes OUTPUT_DIR/vorta_N.png for N = 16, 22, 24, 32, 48, 64, 128, 256\n",
            stderr);
        return 2;
    }
    const auto picture = std::make_unique<Pixel32[]>(screen_pixels);
    if (!read_picture(argv[1], picture.get())) return 1;
    std::vector<std::uint8_t> rgba(4 * icon_max_size * icon_max_size);
    for (const int size : icon_sizes) {
        icon_render(picture.get(), size, rgba.data());
        const std::string path = std::string(argv[2]) + "/vorta_" + std::to_string(size) + ".png";
        if (!write_png(path, rgba.data(), size)) return 1;
    }
    return 0;
}
