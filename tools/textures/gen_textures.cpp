// Writes the two tunnel textures as raw little-endian Pixel32 files.
// Usage: gen_textures OUT_A.raw OUT_B.raw. Exit status 0 on success, 1 if a file cannot be
// written, 2 on wrong usage; every failure prints its reason.
#include <cstdio>

#include "tools/textures/textures.h"
#include "tools/write_file.h"

namespace {

Pixel32 texels[tex_texels];
unsigned char bytes[4 * tex_texels];

// Returns 1 on success, 0 (after a message) on failure.
int write_texture(const char* path, void (*paint)(Pixel32*)) {
    paint(texels);
    // Byte by byte, so the file is little-endian whatever the host.
    for (int i = 0; i < tex_texels; ++i)
        for (int b = 0; b < 4; ++b)
            bytes[4 * i + b] = static_cast<unsigned char>(texels[i] >> (8 * b));
    return tool_write_file("gen_textures", path, bytes, sizeof bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gen_textures OUT_A.raw OUT_B.raw\n");
        return 2;
    }
    if (!write_texture(argv[1], tex_paint_molten)) return 1;
    if (!write_texture(argv[2], tex_paint_circuit)) return 1;
    return 0;
}
