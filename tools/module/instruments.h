// The ten instruments of the soundtrack, synthesised into XM samples with their envelopes.
#pragma once

#include <cstddef>
#include <vector>

#include "tools/module/xm_writer.h"

// Instrument numbers as pattern cells use them (1-based).
enum InstrumentId : int {
    inst_kick = 1,
    inst_snare,
    inst_closed_hat,
    inst_open_hat,
    inst_crash,
    inst_bass,
    inst_pad,
    inst_lead,
    inst_pluck,
    inst_riser,
    inst_count = inst_riser
};

// Drums are tuned to sound at their recording rate when played at this note (C-4).
inline constexpr int inst_drum_note = 49;

// All instruments. The crash cymbal is `crash_frames` long (it absorbs the module's spare bytes)
// and the 8-bit closed hat gets one extra frame when `hat_extra_frame` (to set the byte parity).
std::vector<XmInstrument> inst_build(std::size_t crash_frames, bool hat_extra_frame);

// Shortest crash that still decays properly; inst_build asserts crash_frames >= this.
inline constexpr std::size_t inst_min_crash_frames = 44100;
