// The sync marks the picture keys on, by order, and their placement into the patterns.
#pragma once

#include <vector>

#include "tools/module/xm_writer.h"

// Data values of the W marks.
inline constexpr int sync_beat = 254;
inline constexpr int sync_flash = 255;

// The three channels that carry only marks: a row may need a beat, a flash and an overlay at once.
inline constexpr int sync_channel_beat = 17;
inline constexpr int sync_channel_flash = 18;
inline constexpr int sync_channel_overlay = 19;

struct SyncOverlay {
    int row, value;
};

// The marks one order must carry (rows within its pattern).
struct SyncOrderMarks {
    std::vector<int> flash, beat;
    std::vector<SyncOverlay> overlay;
};

// Marks wanted at order `order` of the song (empty for orders without marks).
SyncOrderMarks sync_marks_for_order(int order);

// Writes every order's marks into the pattern it plays. Returns 1 on success; 0 (after a message
// on stderr) when two orders playing the same pattern want different marks, or a mark row lies
// outside its pattern.
int sync_place(XmSong& song);
