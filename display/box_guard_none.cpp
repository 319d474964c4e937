// Platforms whose message boxes live inside the program's own process: nothing to tie.
#include "display/box_guard.h"

void fb_box_guard_begin() {}

void fb_box_guard_end() {}
