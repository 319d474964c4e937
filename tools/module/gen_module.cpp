// Writes the soundtrack as an XM module of exactly module_bytes bytes.
// Usage: gen_module OUT.xm. Exit status 0 on success, 1 if the song cannot be made or written,
// 2 on wrong usage; every failure prints its reason. The output is the same on every run.
#include <cstdio>
#include <vector>

#include "assets/assets.h"
#include "tools/module/arrangement.h"
#include "tools/module/instruments.h"
#include "tools/module/sync_marks.h"
#include "tools/module/xm_writer.h"
#include "tools/write_file.h"

namespace {

constexpr std::size_t module_bytes = module_length;  // the slot the data block reserves for it

// Every flash and beat mark must land on a kick, so the picture's flashes and turns are heard.
// Returns 0 after a message if one does not.
int marks_on_kicks(const XmSong& song) {
    for (const XmPattern& p : song.patterns)
        for (int row = 0; row < p.rows; ++row)
            for (int ch : {sync_channel_beat, sync_channel_flash}) {
                const XmCell& m = p.cells[row * song.channels + ch];
                const XmCell& k = p.cells[row * song.channels + ch_kick];
                if (m.effect == xm_effect_w && (k.instrument != inst_kick || !k.note)) {
                    std::fprintf(stderr, "gen_module: mark %d at row %d has no kick under it\n",
                                 m.param, row);
                    return 0;
                }
            }
    return 1;
}

// Fits the instruments into the bytes the header and patterns leave. Returns 0 after a message
// if they do not fit.
int fit_instruments(XmSong& song) {
    song.instruments = inst_build(inst_min_crash_frames, false);
    std::size_t used = xm_size_without_sample_data(song);
    for (const XmInstrument& in : song.instruments) used += xm_sample_data_size(in.sample);
    if (used > module_bytes) {
        std::fprintf(stderr, "gen_module: the song needs %zu bytes, more than %zu\n", used,
                     module_bytes);
        return 0;
    }
    // The odd byte goes to the 8-bit hat, the rest to the 16-bit crash's tail.
    const std::size_t spare = module_bytes - used;
    song.instruments = inst_build(inst_min_crash_frames + spare / 2, spare % 2 != 0);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_module OUT.xm\n");
        return 2;
    }
    XmSong song;
    song.name = "vorta";
    song.tracker = "vorta gen_module";
    song.tempo = 3;  // ticks per row: with 126 BPM a row is 2625 samples at 44100 Hz
    song.bpm = 126;
    song.restart = 0;
    song.linear_frequencies = true;
    arr_compose(song);
    if (!sync_place(song) || !marks_on_kicks(song) || !fit_instruments(song)) return 1;

    const std::vector<std::uint8_t> bytes = xm_write(song);
    if (bytes.size() != module_bytes) {
        std::fprintf(stderr, "gen_module: made %zu bytes instead of %zu\n", bytes.size(),
                     module_bytes);
        return 1;
    }
    return tool_write_file("gen_module", argv[1], bytes.data(), bytes.size()) ? 0 : 1;
}
