// Build-time tool: sets the four mask sets and draws the end picture as raw Pixel32 files.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tools/masks/pictures.h"
#include "tools/masks/type.h"
#include "tools/write_file.h"

#ifndef VORTA_FONT_DIR
#define VORTA_FONT_DIR "/usr/share/fonts/truetype/dejavu"
#endif

namespace {

// The largest set has 8 images; the end picture is one.
constexpr int max_images = 8;
// The encoded images of one file, back to back (2.4 MiB: static, not on the stack).
static unsigned char file_bytes[max_images * canvas_bytes];

// Draws every image of `set` in turn into `canvas` and writes them back to back to `path`.
// Returns false after printing a message if the file cannot be written.
bool write_set(const char* path, const MaskSet& set, Canvas& canvas) {
    for (int i = 0; i < set.count; ++i) {
        set.draw(canvas, i);
        canvas_encode(canvas, file_bytes + i * canvas_bytes);
    }
    return tool_write_file("gen_masks", path, file_bytes, set.count * std::size_t{canvas_bytes});
}

bool write_end_picture(const char* path, Canvas& canvas) {
    end_picture_draw(canvas);
    canvas_encode(canvas, file_bytes);
    return tool_write_file("gen_masks", path, file_bytes, canvas_bytes);
}

}  // namespace

// Exit status: 0 done, 1 a font or an output file failed, 2 wrong arguments.
int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: gen_masks MASK_A MASK_B MASK_C MASK_D END_PICTURE\n"
                     "writes 4, 4, 8, 4 and 1 images of 320x240 raw Pixel32 (B, G, R, 0)\n");
        return 2;
    }
    // Optional override of the font folder, for machines that keep fonts elsewhere.
    const char* font_dir = std::getenv("VORTA_FONT_DIR");
    if (!font_dir || !*font_dir) font_dir = VORTA_FONT_DIR;
    int status = 0;
    if (type_open(font_dir)) {
        const auto canvas = std::make_unique<Canvas>();  // 900 KiB: too big for the stack
        for (int s = 0; s < 4 && status == 0; ++s) {
            if (!write_set(argv[1 + s], mask_sets[s], *canvas)) status = 1;
        }
        if (status == 0 && !write_end_picture(argv[5], *canvas)) status = 1;
    } else {
        status = 1;
    }
    type_close();
    return status;
}
