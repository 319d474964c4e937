// Keeps a message box from outliving the program: where the box is shown by a helper process,
// that process is tied to the program's life.
#pragma once

// Call right before showing a blocking message box: a process forked while it is up ends when
// the program ends, however it ends (a kill by its PID included).
void fb_box_guard_begin();
// Call once the box is gone.
void fb_box_guard_end();
