// Starting the module for the show: the sound layer calls every player of the show makes, in
// one place, with their numbers named.
#pragma once

#include <cstdint>

#include "sound/bassmod.h"

inline constexpr std::uint32_t show_rate = 44100;  // mixing rate of every device the show opens
// Positions read as row × 256 + the fraction of the row played, in their high 16 bits.
inline constexpr std::uint32_t show_position_scale = 256;

// Loads the embedded module into the opened sound layer, giving the loader its exact length.
// 1 on success, 0 when the layer rejects it.
int show_load();
// Opens the offline device at `rate` and loads the embedded module. 1 on success; 0 after
// releasing the layer when either fails.
int show_open_offline(std::uint32_t rate = show_rate);
// Registers `on_mark` for every sync mark (none when nullptr), sets the position scaler the show
// reads positions with and starts playback of the loaded module.
void show_play(SYNCPROC on_mark);
