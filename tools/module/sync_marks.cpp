// Sync-mark table and placement. The table is keyed by order because that is what the picture
// sees; marks live in patterns, so every order sharing a pattern must want the same marks.
#include "tools/module/sync_marks.h"

#include <cstdio>

namespace {

// The rhythm of the flash and beat marks: a breakbeat kick on 1, 2-and and 3-and of each bar.
const std::vector<int> accent_rows = {0, 12, 20, 32, 44, 52, 64, 76, 84};
const std::vector<int> bar_rows = {0, 32, 64, 96};
const std::vector<int> kick_rows = {0, 12, 20, 32, 44, 52, 64, 76, 84, 96, 108, 116};
const std::vector<SyncOverlay> four_masks = {{0, 0}, {12, 1}, {20, 2}, {32, 3}};
const std::vector<SyncOverlay> eight_masks = {{0, 0},  {14, 1}, {24, 2}, {32, 3},
                                              {64, 4}, {78, 5}, {88, 6}, {96, 7}};

bool same(const SyncOrderMarks& a, const SyncOrderMarks& b) {
    if (a.flash != b.flash || a.beat != b.beat || a.overlay.size() != b.overlay.size())
        return false;
    for (std::size_t i = 0; i < a.overlay.size(); ++i)
        if (a.overlay[i].row != b.overlay[i].row || a.overlay[i].value != b.overlay[i].value)
            return false;
    return true;
}

// Returns 0 after a message when the row is outside the pattern.
int put_mark(XmSong& song, int pattern, int row, int channel, int value) {
    XmPattern& p = song.patterns[pattern];
    if (row < 0 || row >= p.rows) {
        std::fprintf(stderr, "gen_module: mark at row %d outside pattern %d (%d rows)\n", row,
                     pattern, p.rows);
        return 0;
    }
    XmCell& c = p.cells[row * song.channels + channel];
    c.effect = xm_effect_w;
    c.param = static_cast<std::uint8_t>(value);
    c.has_effect = true;
    return 1;
}

}  // namespace

SyncOrderMarks sync_marks_for_order(int order) {
    switch (order) {
        case 4:
        case 5:
            return {accent_rows, {}, four_masks};
        case 6:
        case 7:
        case 14:
        case 15:
        case 16:
            return {bar_rows, kick_rows, four_masks};
        case 12:
            return {{}, {}, eight_masks};
        case 17:
            return {bar_rows, kick_rows, {}};
        default:
            return {};
    }
}

int sync_place(XmSong& song) {
    const int patterns = static_cast<int>(song.patterns.size());
    for (int pat = 0; pat < patterns; ++pat) {
        int first = -1;
        for (int ord = 0; ord < static_cast<int>(song.orders.size()); ++ord) {
            if (song.orders[ord] != pat) continue;
            if (first < 0) {
                first = ord;
            } else if (!same(sync_marks_for_order(first), sync_marks_for_order(ord))) {
                std::fprintf(
                    stderr,
                    "gen_module: orders %d and %d play pattern %d but want different marks\n",
                    first, ord, pat);
                return 0;
            }
        }
        if (first < 0) continue;
        const SyncOrderMarks m = sync_marks_for_order(first);
        int ok = 1;
        for (int row : m.flash) ok &= put_mark(song, pat, row, sync_channel_flash, sync_flash);
        for (int row : m.beat) ok &= put_mark(song, pat, row, sync_channel_beat, sync_beat);
        for (const SyncOverlay& o : m.overlay)
            ok &= put_mark(song, pat, o.row, sync_channel_overlay, o.value);
        if (!ok) return 0;
    }
    return 1;
}
