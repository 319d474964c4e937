// Test seam of the display layer: narrows the formats fb_open may choose, makes locks fail and
// reports what the layer did. The shipped program never calls these.
#pragma once

#include <cstdint>

struct SDL_Window;

// From the next fb_open on, only the listed SDL pixel formats count as accepted by the renderer;
// count < 0 accepts every format again (the default).
void fb_seam_accept_formats(const std::uint32_t* formats, int count);
// The next `count` texture locks fail as if the renderer had refused them.
void fb_seam_fail_locks(int count);
// The SDL pixel format of the open display's texture, or 0 when none is open.
std::uint32_t fb_seam_format();
// The open display's window, or nullptr.
SDL_Window* fb_seam_window();
// Texture locks and frame presents since the last fb_open.
int fb_seam_locks();
int fb_seam_presents();
// Draws the texture as the last fb_update left it and reads the logical picture back,
// width × height pixels as 0x00RRGGBB, one sample per framebuffer pixel. 1 on success.
int fb_seam_read_back(std::uint32_t* out);
