// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

// Starts the clock; draws nothing unless stderr is a terminal.
void progress_begin();
// Shows `fraction` (0 to 1) done and `music_seconds` rendered so far, at most ten times a second.
void progress_update(double fraction, double music_seconds);
// Ends the bar's line: drawn full when `finished`, left as it stood after a failure.
void progress_end(bool finished);
