// Screen grabs of a rectangle of the X root window through the shared-memory extension, each
// on a connection of its own so that threads can grab at once.
#pragma once

#include <cstdint>

struct XGrabState;

// Opens a grabber of the w × h rectangle at (x, y) of the root window of $DISPLAY; nullptr when
// the display or the extension is missing. `screen_w` and `screen_h` get the root's size.
XGrabState* xgrab_open(int x, int y, int w, int h, int* screen_w, int* screen_h);
// Grabs the rectangle. Returns its pixels (0x00RRGGBB, `stride` pixels a row) or nullptr, and in
// `mid_ns` the steady-clock time half-way through the grab.
const std::uint32_t* xgrab_take(XGrabState* g, int* stride, std::int64_t* mid_ns);
void xgrab_close(XGrabState* g);

// Steady-clock nanoseconds, the time base of every stamp of the meter.
std::int64_t xgrab_now_ns();
// Asks for the calling thread to run before ordinary ones (real-time priority, where allowed), so
// that its stamps stay close to what they stamp on a loaded machine. 1 if granted.
int xgrab_prompt_thread();
