// FreeType faces, text measuring and drawing with sub-pixel pen positions.
#include "tools/masks/type.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <string>

namespace {

const char* const type_files[font_count] = {
    "DejaVuSans-Bold.ttf",
    "DejaVuSansCondensed-Bold.ttf",
    "DejaVuSans-ExtraLight.ttf",
    "DejaVuSansMono.ttf",
};

static struct {
    FT_Library library;
    FT_Face faces[font_count];
} type;

// Selects `size` (pixels per em, 26.6 fixed point to FreeType) and sub-pixel offset `dx`
// (26.6) for the next glyphs loaded from `face`.
FT_Face type_face(Font font, float size, FT_Pos dx) {
    FT_Face face = type.faces[font];
    FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(size * 64.0f)), 72, 72);
    FT_Vector delta{dx, 0};
    FT_Set_Transform(face, nullptr, &delta);
    return face;
}

// Walks `text`, calling `glyph(pen_26_6, index)` with the pen position of each letter, and
// returns the pen after the last letter's advance (26.6).
template <class Visit>
FT_Pos type_walk(Font font, float size, const char* text, float tracking, Visit glyph) {
    FT_Face face = type_face(font, size, 0);
    const FT_Pos track = static_cast<FT_Pos>(std::lround(tracking * 64.0f));
    FT_Pos pen = 0;
    FT_UInt previous = 0;
    for (const char* c = text; *c; ++c) {
        const FT_UInt index = FT_Get_Char_Index(face, static_cast<unsigned char>(*c));
        if (previous && FT_HAS_KERNING(face)) {
            FT_Vector kern;
            if (FT_Get_Kerning(face, previous, index, FT_KERNING_UNFITTED, &kern) == 0)
                pen += kern.x;
        }
        glyph(pen, index);
        // Advances come unhinted so spacing scales smoothly with the size.
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING) == 0) pen += face->glyph->advance.x;
        if (c[1]) pen += track;
        previous = index;
    }
    return pen;
}

}  // namespace

bool type_open(const char* font_dir) {
    if (FT_Init_FreeType(&type.library) != 0) {
        std::fprintf(stderr, "gen_masks: cannot start FreeType\n");
        return false;
    }
    for (int i = 0; i < font_count; ++i) {
        const std::string path = std::string(font_dir) + "/" + type_files[i];
        if (FT_New_Face(type.library, path.c_str(), 0, &type.faces[i]) != 0) {
            std::fprintf(stderr, "gen_masks: cannot load font %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

void type_close() {
    for (FT_Face& face : type.faces) {
        if (face) FT_Done_Face(face);
        face = nullptr;
    }
    if (type.library) FT_Done_FreeType(type.library);
    type.library = nullptr;
}

float type_width(Font font, float size, const char* text, float tracking) {
    return static_cast<float>(type_walk(font, size, text, tracking, [](FT_Pos, FT_UInt) {})) /
           64.0f;
}

float type_cap_height(Font font, float size) {
    FT_Face face = type_face(font, size, 0);
    if (FT_Load_Char(face, 'H', FT_LOAD_NO_HINTING) != 0) return size * 0.73f;
    return static_cast<float>(face->glyph->metrics.horiBearingY) / 64.0f;
}

void type_draw(Canvas& canvas, Font font, float size, float x, float baseline, const char* text,
               Rgb color, Align align, float tracking) {
    float left = x;
    if (align != align_left) {
        const float width = type_width(font, size, text, tracking);
        left -= align == align_center ? width * 0.5f : width;
    }
    // Pen in 26.6 fixed point from the left edge of the canvas; its whole pixels place the
    // bitmap and its fraction shifts the outline before rendering.
    const FT_Pos origin = static_cast<FT_Pos>(std::lround(left * 64.0f));
    const int base = static_cast<int>(std::lround(baseline));
    type_walk(font, size, text, tracking, [&](FT_Pos pen, FT_UInt index) {
        const FT_Pos at = origin + pen;
        FT_Face face = type_face(font, size, at & 63);
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) return;
        const FT_Bitmap& bitmap = face->glyph->bitmap;
        const int gx = static_cast<int>(at >> 6) + face->glyph->bitmap_left;
        const int gy = base - face->glyph->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const int y = gy + static_cast<int>(row);
            if (y < 0 || y >= screen_height) continue;  // letters may run off the picture
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const int px = gx + static_cast<int>(col);
                if (px < 0 || px >= screen_width) continue;
                const unsigned char cover = bitmap.buffer[row * bitmap.pitch + col];
                if (cover) canvas_mix(canvas, y * screen_width + px, color, cover / 255.0f);
            }
        }
        // Back to no offset so measuring inside type_walk sees the plain outline.
        type_face(font, size, 0);
    });
}
