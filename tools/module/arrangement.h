// The song as data: order list, pattern lengths and the note tables of every pattern.
#pragma once

#include "tools/module/xm_writer.h"

inline constexpr int arr_channels = 20;
inline constexpr int arr_patterns = 13;
inline constexpr int arr_rows_per_beat = 8;  // speed 3 at 126 BPM: 2625 samples a row at 44100 Hz

// Music channels (the last three carry only sync marks).
enum ArrChannel : int {
    ch_kick = 0,
    ch_snare,
    ch_hat,
    ch_open_hat,
    ch_crash,
    ch_bass,
    ch_pad1,
    ch_pad2,
    ch_pad3,
    ch_stab1,
    ch_lead,
    ch_lead_echo,
    ch_arp,
    ch_arp_echo,
    ch_stab2,
    ch_kick2,
    ch_fx,
    ch_stab3 = ch_arp_echo  // stab chords and the arpeggio never play in the same pattern
};

// Fills song.orders and song.patterns (notes only; the marks are placed separately).
void arr_compose(XmSong& song);
