// The contact sheet: thumbnails spread evenly over the captured frames, labelled with their
// order, row and time. Collects as frames go by, in bounded memory.
#pragma once

#include <cstdint>
#include <cstdio>

#include "assets/pixel.h"

inline constexpr int sheet_columns = 8;
inline constexpr int sheet_cells = 48;  // thumbnails on a full sheet
// Layout: a thumbnail is the frame shrunk 4 × 4 to 80 × 60; cell c has its thumbnail's top-left
// corner at (margin + (c mod 8) × cell_w, margin + (c div 8) × cell_h), its label below.
inline constexpr int sheet_thumb_w = 80, sheet_thumb_h = 60;
inline constexpr int sheet_margin = 4;
inline constexpr int sheet_label_h = 28;  // two lines of 2 × 2 font pixels under the thumbnail
inline constexpr int sheet_cell_w = sheet_thumb_w + sheet_margin;
inline constexpr int sheet_cell_h = sheet_thumb_h + sheet_label_h + sheet_margin;

// Forgets every thumbnail.
void sheet_reset();
// Offers the index-th frame of the range (0, 1, 2, ... with no gaps), composed at `sample`
// from the sound layer's `position`. Keeps a thumbnail of it when it falls on the grid.
void sheet_offer(const Pixel32* frame, std::uint64_t index, std::uint64_t sample,
                 std::uint32_t position);
// Lays out the kept thumbnails and writes the sheet as a PNG to `file` (`path` in messages).
// 1 on success, 0 on failure (reason printed), also when no frame was offered.
int sheet_write(std::FILE* file, const char* path);
// Draws `text` (digits, ':', '.', ' ', 'o', 'r'; anything else as a box) with its top-left
// corner at (x, y), each font pixel `size` × `size`; clipped to the picture.
void sheet_text(Pixel32* picture, int w, int h, int x, int y, const char* text, int size,
                Pixel32 colour);
