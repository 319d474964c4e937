// The display layer: one fullscreen window showing the framebuffer, integer-scaled and crisp.
// fb_open returns 1 on success and 0 on failure; nothing else reports errors.
#pragma once

#include <cstdint>

#include "assets/pixel.h"

// Opens the display for a width × height framebuffer, choosing the pixel converter.
int fb_open(const char* title, int width, int height);
// Handles pending window events and presents one frame (width × height pixels, rows contiguous).
// While the window is minimised, hidden or unfocused the frame is dropped and the call waits for
// window events instead (up to a tenth of a second; a backend may wait less).
// 0 when the frame could not be locked; 1 otherwise, also when skipped while inactive.
// A close request closes the display and ends the process with status 0 from in here.
int fb_update(const Pixel32* pixels);
// While the display shows nothing (minimised, hidden, unfocused, or not open): handles window
// events, waits for them (up to a tenth of a second) and returns non-zero; the caller then
// draws nothing this pass. Returns 0 while frames are shown: at once, or when the wait ends with
// the window back.
int fb_idle();
// Releases the display and restores the desktop. Safe after a failed or missing fb_open.
void fb_close();
// Nanoseconds from now until a frame handed to fb_update now is seen, taken at the middle of its
// time on screen; the backend's own estimate from what it has observed (0 before any present).
std::int64_t fb_present_lead_ns();
// Non-zero while the Escape key is held.
int fb_escape_pressed();
// Shows `text` in a blocking message box with no caption, and on stderr.
void fb_message_box(const char* text);
