// Contact sheet: 4 × 4 box-filtered thumbnails kept on a doubling stride, then laid out in a grid.
#include "tools/capture/sheet.h"

#include <cstdio>
#include <vector>

#include "driver/music_position.h"
#include "tools/capture/png_write.h"

namespace {

constexpr int thumb_w = sheet_thumb_w, thumb_h = sheet_thumb_h;
static_assert(thumb_w * 4 == screen_width && thumb_h * 4 == screen_height);
constexpr int capacity = 2 * sheet_cells;
constexpr int font_size = 2;               // font pixels are 2 × 2 screen pixels
constexpr int line_h = 6 * font_size + 1;  // 5 rows and a gap
constexpr int margin = sheet_margin;
constexpr int cell_w = sheet_cell_w, cell_h = sheet_cell_h;
static_assert(sheet_label_h >= 2 * line_h + 2);
constexpr Pixel32 background = 0x202020, ink = 0xE0E0E0;

struct Thumb {
    Pixel32 pixels[thumb_w * thumb_h];
    std::uint64_t sample;
    std::uint32_t position;
};

static struct {
    Thumb thumbs[capacity];
    int count;             // thumbnails kept
    std::uint64_t stride;  // frames between kept thumbnails; doubles when the store fills
} sheet = {{}, 0, 1};

// 3 × 5 glyphs, one byte per row, bit 2 the left column.
struct Glyph {
    char c;
    std::uint8_t rows[5];
};
constexpr Glyph font[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 3, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 2, 2}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {':', {0, 2, 0, 2, 0}}, {'.', {0, 0, 0, 0, 2}},
    {' ', {0, 0, 0, 0, 0}}, {'o', {0, 7, 5, 5, 7}}, {'r', {0, 7, 4, 4, 4}},
};
constexpr std::uint8_t unknown_glyph[5] = {7, 5, 5, 5, 7};

const std::uint8_t* glyph(char c) {
    for (const Glyph& g : font) {
        if (g.c == c) return g.rows;
    }
    return unknown_glyph;
}

// Averages each 4 × 4 block of the frame, channel by channel.
void shrink(const Pixel32* frame, Pixel32* out) {
    for (int ty = 0; ty < thumb_h; ++ty) {
        for (int tx = 0; tx < thumb_w; ++tx) {
            std::uint32_t r = 0, g = 0, b = 0;
            for (int y = 0; y < 4; ++y) {
                const Pixel32* row = frame + (ty * 4 + y) * screen_width + tx * 4;
                for (int x = 0; x < 4; ++x) {
                    r += (row[x] >> 16) & 0xFF;
                    g += (row[x] >> 8) & 0xFF;
                    b += row[x] & 0xFF;
                }
            }
            // Sums of 16 values: + 8 rounds to nearest before the divide by 16.
            out[ty * thumb_w + tx] = ((r + 8) / 16) << 16 | ((g + 8) / 16) << 8 | (b + 8) / 16;
        }
    }
}

}  // namespace

void sheet_text(Pixel32* picture, int w, int h, int x, int y, const char* text, int size,
                Pixel32 colour) {
    for (; *text; ++text, x += 4 * size) {
        const std::uint8_t* rows = glyph(*text);
        for (int gy = 0; gy < 5 * size; ++gy) {
            for (int gx = 0; gx < 3 * size; ++gx) {
                const int px = x + gx, py = y + gy;
                if (px < 0 || py < 0 || px >= w || py >= h) continue;
                if (rows[gy / size] & (4 >> (gx / size))) picture[py * w + px] = colour;
            }
        }
    }
}

void sheet_reset() {
    sheet.count = 0;
    sheet.stride = 1;
}

void sheet_offer(const Pixel32* frame, std::uint64_t index, std::uint64_t sample,
                 std::uint32_t position) {
    if (index % sheet.stride != 0) return;
    Thumb& t = sheet.thumbs[sheet.count++];
    shrink(frame, t.pixels);
    t.sample = sample;
    t.position = position;
    if (sheet.count == capacity) {
        // Full: keep every second thumbnail, which leaves them on a grid twice as wide.
        for (int i = 0; i < sheet_cells; ++i) sheet.thumbs[i] = sheet.thumbs[2 * i];
        sheet.count = sheet_cells;
        sheet.stride *= 2;
    }
}

int sheet_write(std::FILE* file, const char* path) {
    if (sheet.count == 0) {
        std::fprintf(stderr, "vorta-capture: no frame for the contact sheet %s\n", path);
        return 0;
    }
    const int cells = sheet.count < sheet_cells ? sheet.count : sheet_cells;
    const int rows = (cells + sheet_columns - 1) / sheet_columns;
    const int w = margin + sheet_columns * cell_w, h = margin + rows * cell_h;
    std::vector<Pixel32> picture(static_cast<std::size_t>(w) * h, background);

    for (int c = 0; c < cells; ++c) {
        // Between sheet_cells and twice as many are kept: pick sheet_cells of them evenly.
        const Thumb& t = sheet.thumbs[c * sheet.count / cells];
        const int x0 = margin + (c % sheet_columns) * cell_w;
        const int y0 = margin + (c / sheet_columns) * cell_h;
        for (int y = 0; y < thumb_h; ++y) {
            for (int x = 0; x < thumb_w; ++x) {
                picture[(y0 + y) * w + x0 + x] = t.pixels[y * thumb_w + x];
            }
        }
        char line[32];
        const MusicPosition at = music_position(t.position);
        std::snprintf(line, sizeof line, "o%d r%d", at.order, static_cast<int>(at.row));
        sheet_text(picture.data(), w, h, x0, y0 + thumb_h + 2, line, font_size, ink);
        const std::uint64_t centis = t.sample * 100 / 44100;
        std::snprintf(line, sizeof line, "%u:%02u.%02u", static_cast<unsigned>(centis / 6000),
                      static_cast<unsigned>(centis / 100 % 60),
                      static_cast<unsigned>(centis % 100));
        sheet_text(picture.data(), w, h, x0, y0 + thumb_h + 2 + line_h, line, font_size, ink);
    }
    return png_write_rgb(file, path, picture.data(), w, h, w);
}
