// The arrangement. Rhythms are written one character per 16th note (two rows), melodies one
// token per 16th note, chords one name per bar (32 rows), so a pattern reads like a score.
#include "tools/module/arrangement.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tools/module/instruments.h"

namespace {

constexpr int step_rows = 2;  // one 16th note
constexpr int bar_rows = 4 * arr_rows_per_beat;

// Mixer: every volume written to a channel is scaled by its gain (percent).
constexpr int channel_gain[arr_channels] = {
    100, 100, 95, 80, 80, 78,      // kick snare hat open-hat crash bass
    60,  60,  60, 70,              // pad voices, stab
    72,  42,  62, 38, 70, 56, 85,  // lead, echo, arp, echo (or stab), stab, kick layer, fx
    0,   0,   0};
// Stereo placement (8xx) of each channel; 128 is the middle.
constexpr int channel_pan[arr_channels] = {
    128, 122, 160, 92,  104, 128,       // kick snare hat open-hat crash bass
    72,  128, 184, 108,                 // pad voices, stab
    140, 60,  100, 196, 148, 128, 128,  // lead, echo, arp, echo (or stab), stab, kick layer, fx
    128, 128, 128};

XmCell& cell(XmPattern& p, int row, int ch) {
    assert(row >= 0 && row < p.rows && ch >= 0 && ch < arr_channels);
    return p.cells[row * arr_channels + ch];
}

// Overall level (percent) on top of the channel gains; sets the song's loudness.
constexpr int master_gain = 110;

// Volume-column byte for volume v (0..64 before mixing) on a channel mixed like `ch`.
std::uint8_t vol_byte(int ch, int v) {
    // Volumes past 64 stop at 64: the loudest notes (the kick) simply stay at full level.
    const int scaled = (v * channel_gain[ch] * master_gain + 5000) / 10000;
    return static_cast<std::uint8_t>(0x10 + (scaled < 1 ? 1 : scaled > 64 ? 64 : scaled));
}

void note_on(XmPattern& p, int row, int ch, int note, int inst, int vol, int mix_as = -1) {
    XmCell& c = cell(p, row, ch);
    c.note = static_cast<std::uint8_t>(note);
    c.instrument = static_cast<std::uint8_t>(inst);
    c.volume = vol_byte(mix_as < 0 ? ch : mix_as, vol);
}

void note_off(XmPattern& p, int row, int ch) {
    XmCell& c = cell(p, row, ch);
    c = XmCell{};
    c.note = xm_key_off;
}

// "A4", "C#5", "Bb3" → XM note (C-0 = 1). Octaves in scientific pitch: C4 is middle C.
int note_of(const std::string& name) {
    static const int semis[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G
    assert(name.size() >= 2 && name[0] >= 'A' && name[0] <= 'G');
    int s = semis[name[0] - 'A'];
    std::size_t i = 1;
    if (name[i] == '#') {
        ++s;
        ++i;
    } else if (name[i] == 'b') {
        --s;
        ++i;
    }
    const int octave = name[i] - '0';
    return 12 * octave + s + 1;
}

std::vector<std::string> tokens(const char* text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string t; in >> t;) out.push_back(t);
    return out;
}

// Drum line: one char per 16th from `first_bar` on: '.' rest, '1'..'9' volume 7..63, 'x' 64.
void drums(XmPattern& p, int ch, int inst, const char* steps, int first_bar = 0) {
    const int n = static_cast<int>(std::strlen(steps));
    for (int i = 0; i < n; ++i) {
        const char c = steps[i];
        if (c == '.' || c == ' ') continue;
        const int vol = c == 'x' ? 64 : (c - '0') * 7;
        note_on(p, first_bar * bar_rows + i * step_rows, ch, inst_drum_note, inst, vol);
        // The kick is layered on a second channel: one channel at full volume is too quiet
        // against the rest of the mix.
        if (ch == ch_kick)
            note_on(p, first_bar * bar_rows + i * step_rows, ch_kick2, inst_drum_note, inst, vol);
    }
}

// The same drum bar in every bar of the pattern.
void drums_each_bar(XmPattern& p, int ch, int inst, const char* bar) {
    for (int b = 0; b < p.rows / bar_rows; ++b) drums(p, ch, inst, bar, b);
}

// Melody: one token per 16th: a note name, '.' to hold, '-' to release.
void melody(XmPattern& p, int ch, int inst, const char* text, int vol, int first_bar = 0) {
    const std::vector<std::string> t = tokens(text);
    for (int i = 0; i < static_cast<int>(t.size()); ++i) {
        const int row = first_bar * bar_rows + i * step_rows;
        if (t[i] == ".") continue;
        if (t[i] == "-")
            note_off(p, row, ch);
        else
            note_on(p, row, ch, note_of(t[i]), inst, vol);
    }
}

struct Chord {
    const char* name;
    const char* voicing[3];  // the pad's three voices, moving as little as possible
    const char* root;        // the bass note
};
const Chord chords[] = {
    {"Am", {"A3", "C4", "E4"}, "A1"}, {"F", {"A3", "C4", "F4"}, "F1"},
    {"C", {"G3", "C4", "E4"}, "C2"},  {"G", {"G3", "B3", "D4"}, "G1"},
    {"Em", {"G3", "B3", "E4"}, "E1"}, {"Dm", {"A3", "D4", "F4"}, "D2"},
    {"E", {"G#3", "B3", "E4"}, "E1"},
};

const Chord& chord(const std::string& name) {
    for (const Chord& c : chords)
        if (name == c.name) return c;
    assert(!"unknown chord");
    return chords[0];
}

// Pad: one chord per bar, held into the next; key off at `release_row` if >= 0.
void pad(XmPattern& p, const char* progression, int vol, int release_row = -1) {
    const std::vector<std::string> t = tokens(progression);
    for (int b = 0; b < static_cast<int>(t.size()); ++b)
        for (int v = 0; v < 3; ++v)
            note_on(p, b * bar_rows, ch_pad1 + v, note_of(chord(t[b]).voicing[v]), inst_pad, vol);
    if (release_row >= 0)
        for (int v = 0; v < 3; ++v) note_off(p, release_row, ch_pad1 + v);
}

// Bass: per bar a 16-token rhythm over the bar's chord: R root, O octave up, 5 fifth,
// '.' hold, '-' release.
void bass(XmPattern& p, const char* progression, const char* rhythm, int vol) {
    const std::vector<std::string> prog = tokens(progression), r = tokens(rhythm);
    assert(r.size() == 16);
    for (int b = 0; b < static_cast<int>(prog.size()); ++b) {
        const int root = note_of(chord(prog[b]).root);
        for (int i = 0; i < 16; ++i) {
            const int row = b * bar_rows + i * step_rows;
            if (r[i] == "R")
                note_on(p, row, ch_bass, root, inst_bass, vol);
            else if (r[i] == "O")
                note_on(p, row, ch_bass, root + 12, inst_bass, vol - 6);
            else if (r[i] == "5")
                note_on(p, row, ch_bass, root + 7, inst_bass, vol - 4);
            else if (r[i] == "-")
                note_off(p, row, ch_bass);
        }
    }
}

// Arpeggio: 16ths walking `order` (indices into root, third, fifth, octave) an octave above the
// pad.
void arp(XmPattern& p, const char* progression, const char* order, int vol, int first_bar = 0,
         int bars = -1) {
    const std::vector<std::string> prog = tokens(progression);
    const int n = static_cast<int>(std::strlen(order));
    const int last = bars < 0 ? static_cast<int>(prog.size()) : first_bar + bars;
    for (int b = first_bar; b < last; ++b) {
        const Chord& c = chord(prog[b]);
        const int tones[4] = {note_of(c.voicing[0]) + 12, note_of(c.voicing[1]) + 12,
                              note_of(c.voicing[2]) + 12, note_of(c.voicing[0]) + 24};
        for (int i = 0; i < 16; ++i) {
            const int k = order[i % n] - '0';
            const int accent = (i % 4 == 0) ? 0 : -8;  // lean on the beat
            note_on(p, b * bar_rows + i * step_rows, ch_arp, tones[k], inst_pluck, vol + accent);
        }
    }
}

// Stab chord: the bar's chord an octave up on the pluck, on channels stab1..3.
void stab(XmPattern& p, int row, const char* chord_name, int vol) {
    const Chord& c = chord(chord_name);
    const int chans[3] = {ch_stab1, ch_stab2, ch_stab3};
    for (int v = 0; v < 3; ++v)
        note_on(p, row, chans[v], note_of(c.voicing[v]) + 12, inst_pluck, vol, ch_stab1);
}

// Echo: copies channel `from` onto `to`, `delay` rows later and at `percent` of the volume.
// Notes that would fall past the pattern's end are dropped; a release that would is moved to the
// last row, so no echoed note is left hanging into the next pattern.
void echo(XmPattern& p, int from, int to, int delay, int percent) {
    for (int row = 0; row < p.rows; ++row) {
        const XmCell& src = cell(p, row, from);
        if (!src.note) continue;
        if (row + delay >= p.rows && src.note != xm_key_off) continue;
        XmCell& dst = cell(p, std::min(row + delay, p.rows - 1), to);
        dst = src;
        if (src.volume)
            dst.volume =
                static_cast<std::uint8_t>(0x10 + std::max(1, (src.volume - 0x10) * percent / 100));
    }
}

void clear_channel(XmPattern& p, int ch) {
    for (int row = 0; row < p.rows; ++row) cell(p, row, ch) = XmCell{};
}

void crash(XmPattern& p, int row, int vol) {
    note_on(p, row, ch_crash, inst_drum_note, inst_crash, vol);
}
void riser(XmPattern& p, int row, int vol) {
    note_on(p, row, ch_fx, inst_drum_note, inst_riser, vol);
}

// ---- The score -------------------------------------------------------------------------------

const char* const prog_a = "Am F C G";
const char* const prog_b = "F G Em Am";
const char* const prog_break = "Dm Am F E";

const char* const groove_kick = "x.....x...x.....";  // 1, 2-and, 3-and: the beat marks
const char* const groove_snare = "....x..2....x.3.";
const char* const groove_hat = "9494949494949494";
const char* const groove_open = "..............5.";
const char* const bass_groove = "R . . O - . R . . . R . O - 5 -";
const char* const bass_pulse = "- . R - . . R - . . R - . . R -";

const char* const hook =
    "E5 . . D5 . . C5 . . . A4 . C5 . . - "
    "C5 . . A4 . . C5 . . . F5 . E5 . . - "
    "E5 . . D5 . . C5 . . . G5 . E5 . . - "
    "D5 . . B4 . . D5 . . . G4 . B4 . D5 - ";
const char* const hook_b =
    "A4 . . C5 . . F5 . . . E5 . C5 . . - "
    "B4 . . D5 . . G5 . . . F5 . D5 . . - "
    "G4 . . B4 . . E5 . . . D5 . B4 . . - "
    "A4 . . C5 . . E5 . . . . . . . - . ";

// Intro: the pad alone, then a quiet arpeggio.
void pattern_intro(XmPattern& p) {
    pad(p, prog_a, 44);
    arp(p, prog_a, "0123", 26, 2, 2);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
}

// Second intro pattern: arpeggio throughout, hats and a held bass.
void pattern_intro2(XmPattern& p) {
    pad(p, prog_a, 50);
    arp(p, prog_a, "0123", 34);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
    bass(p, prog_a, "R . . . . . . . . . . . . . . .", 48);
    drums_each_bar(p, ch_hat, inst_closed_hat, "..3...3...3...4.");
    drums(p, ch_hat, inst_closed_hat, "3434343434343456", 3);
}

// Kick and bass arrive: four to the floor.
void pattern_build(XmPattern& p) {
    pad(p, prog_a, 50);
    arp(p, prog_a, "0123", 36);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
    bass(p, prog_a, bass_groove, 58);
    drums_each_bar(p, ch_kick, inst_kick, "x...x...x...x...");
    drums_each_bar(p, ch_hat, inst_closed_hat, "..5...5...5...5.");
    crash(p, 0, 40);
}

// Snare joins; the last bar rolls up into the hits with a riser.
void pattern_build2(XmPattern& p) {
    pad(p, prog_a, 52);
    arp(p, prog_a, "0123", 38);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
    bass(p, prog_a, bass_groove, 60);
    drums_each_bar(p, ch_kick, inst_kick, "x...x...x...x...");
    drums(p, ch_snare, inst_snare, "....x.......x.......x.......x.......x.......x...", 0);
    drums(p, ch_snare, inst_snare, "343455556666778.", 3);
    drums_each_bar(p, ch_hat, inst_closed_hat, "5353535353535353");
    drums_each_bar(p, ch_open_hat, inst_open_hat, "..5...5...5...5.");
    riser(p, 96, 56);
}

// The hits: every flash row is a kick, a chord stab and the bass together; bar 4 builds.
void pattern_hits(XmPattern& p) {
    const char* bars[4] = {"Am", "F", "C", "G"};
    pad(p, prog_a, 46);
    for (int b = 0; b < 3; ++b) {
        drums(p, ch_kick, inst_kick, groove_kick, b);
        for (int row : {0, 12, 20}) {
            stab(p, b * bar_rows + row, bars[b], 64);
            note_on(p, b * bar_rows + row, ch_bass, note_of(chord(bars[b]).root), inst_bass, 64);
            note_off(p, b * bar_rows + row + 6, ch_bass);
        }
        crash(p, b * bar_rows, 56);
        drums(p, ch_hat, inst_closed_hat, "..5...5.....4.5.", b);
    }
    drums(p, ch_kick, inst_kick, "x...x...x...x.x.", 3);
    drums(p, ch_snare, inst_snare, "454556666777889.", 3);
    note_on(p, 96, ch_bass, note_of("G1"), inst_bass, 60);
    riser(p, 96, 60);
}

// The full groove: breakbeat, bass, pad, hook, arpeggio. Played at the start and at the peak.
void pattern_groove(XmPattern& p) {
    pad(p, prog_a, 44);
    drums_each_bar(p, ch_kick, inst_kick, groove_kick);
    drums_each_bar(p, ch_snare, inst_snare, groove_snare);
    drums_each_bar(p, ch_hat, inst_closed_hat, groove_hat);
    drums_each_bar(p, ch_open_hat, inst_open_hat, groove_open);
    crash(p, 0, 60);
    bass(p, prog_a, bass_groove, 62);
    melody(p, ch_lead, inst_lead, hook, 60);
    echo(p, ch_lead, ch_lead_echo, 6, 70);
    arp(p, prog_a, "0212", 26);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
}

// Breakdown, two bars: the drums stop, the pad swells, a riser leads into whatever comes next.
void pattern_breakdown(XmPattern& p) {
    pad(p, "F G", 54);
    melody(p, ch_lead, inst_lead,
           "C5 . . . . . . . . . . . A4 . . . B4 . . . . . . . D5 . . . . . - .", 50);
    echo(p, ch_lead, ch_lead_echo, 6, 70);
    note_on(p, 0, ch_bass, note_of("F1"), inst_bass, 44);
    note_on(p, 32, ch_bass, note_of("G1"), inst_bass, 48);
    note_off(p, 60, ch_bass);
    crash(p, 0, 36);
    riser(p, 32, 64);
}

// Second half, fresh: new chords, a pulsing bass and four-to-the-floor, no snare yet.
void pattern_second(XmPattern& p) {
    crash(p, 0, 60);
    pad(p, prog_b, 50);
    bass(p, prog_b, bass_pulse, 60);
    drums_each_bar(p, ch_kick, inst_kick, "x...x...x...x...");
    drums_each_bar(p, ch_hat, inst_closed_hat, "..6...6...6...6.");
    arp(p, prog_b, "0123", 28, 2, 2);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
}

// Second half grows: snare, arpeggio and the second theme.
void pattern_second2(XmPattern& p) {
    pad(p, prog_b, 48);
    bass(p, prog_b, bass_pulse, 60);
    drums_each_bar(p, ch_kick, inst_kick, "x...x...x...x...");
    drums_each_bar(p, ch_snare, inst_snare, "....x.......x...");
    drums_each_bar(p, ch_hat, inst_closed_hat, "5363536353635363");
    drums_each_bar(p, ch_open_hat, inst_open_hat, "..4...4...4...4.");
    arp(p, prog_b, "0123", 32);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
    melody(p, ch_lead, inst_lead, hook_b, 52);
    echo(p, ch_lead, ch_lead_echo, 6, 70);
}

// Second half in full: the breakbeat under the second theme, rolling into the break.
void pattern_second3(XmPattern& p) {
    crash(p, 0, 56);
    pad(p, prog_b, 46);
    bass(p, prog_b, bass_groove, 62);
    for (int b = 0; b < 3; ++b) {
        drums(p, ch_kick, inst_kick, groove_kick, b);
        drums(p, ch_snare, inst_snare, groove_snare, b);
        drums(p, ch_open_hat, inst_open_hat, groove_open, b);
    }
    drums(p, ch_kick, inst_kick, "x...x...x...x...", 3);
    drums(p, ch_snare, inst_snare, "454556666777889.", 3);
    drums_each_bar(p, ch_hat, inst_closed_hat, groove_hat);
    melody(p, ch_lead, inst_lead, hook_b, 58);
    echo(p, ch_lead, ch_lead_echo, 6, 70);
    arp(p, prog_b, "0212", 26);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
    riser(p, 96, 60);
}

// The break: pad and bass hold, and a bell-like pluck marks each change of lettering.
void pattern_break(XmPattern& p) {
    crash(p, 0, 48);
    drums(p, ch_kick, inst_kick, "x", 0);
    pad(p, prog_break, 56);
    bass(p, prog_break, "R . . . . . . . . . . . . . . .", 46);
    melody(p, ch_arp, inst_pluck,
           "F5 . . . . . . D5 . . . . A4 . . . E5 . . . . . . . C5 . . . . . . . "
           "A5 . . . . . . F5 . . . . C5 . . . B5 . . . . . . . G#5 . . . E5 . . . ",
           56);
    echo(p, ch_arp, ch_arp_echo, 6, 60);
    echo(p, ch_arp, ch_stab1, 12, 35);
}

// The last peak: the groove with the hook doubled a third below and a fill into the ending.
void pattern_peak(XmPattern& p) {
    pattern_groove(p);
    clear_channel(p, ch_lead_echo);  // the harmony takes the echo's place
    melody(p, ch_lead_echo, inst_lead,
           "C5 . . B4 . . A4 . . . E4 . A4 . . - "
           "A4 . . F4 . . A4 . . . C5 . C5 . . - "
           "C5 . . B4 . . G4 . . . E5 . C5 . . - "
           "B4 . . G4 . . B4 . . . D4 . G4 . B4 - ",
           40);
    drums(p, ch_open_hat, inst_open_hat, "..5...5...5...5.", 3);
    drums(p, ch_snare, inst_snare, "....x..3....5656", 3);
}

// The end: one last hit on A minor that rings out and is silent well before the last row.
void pattern_end(XmPattern& p) {
    drums(p, ch_kick, inst_kick, "x", 0);
    crash(p, 0, 64);
    pad(p, "Am", 56, 20);
    stab(p, 0, "Am", 60);
    note_on(p, 0, ch_bass, note_of("A1"), inst_bass, 62);
    note_off(p, 12, ch_bass);
    note_on(p, 0, ch_lead, note_of("A4"), inst_lead, 50);
    note_off(p, 16, ch_lead);
}

// Pans every note of a channel placed off-centre (8xx after the note resets it to the sample's).
void place_in_stereo(XmPattern& p) {
    for (int row = 0; row < p.rows; ++row)
        for (int ch = 0; ch < arr_channels; ++ch) {
            XmCell& c = cell(p, row, ch);
            if (c.note && c.note != xm_key_off && channel_pan[ch] != 128 && !c.effect && !c.param) {
                c.effect = xm_effect_pan;
                c.param = static_cast<std::uint8_t>(channel_pan[ch]);
            }
        }
}

}  // namespace

void arr_compose(XmSong& song) {
    song.channels = arr_channels;
    song.orders = {0, 1, 2, 3, 4, 4, 5, 5, 6, 7, 8, 9, 10, 6, 5, 5, 5, 11, 6, 12};
    song.patterns.assign(arr_patterns, XmPattern{});
    void (*const writers[arr_patterns])(XmPattern&) = {
        pattern_intro,  pattern_intro2,    pattern_build,  pattern_build2,  pattern_hits,
        pattern_groove, pattern_breakdown, pattern_second, pattern_second2, pattern_second3,
        pattern_break,  pattern_peak,      pattern_end};
    for (int i = 0; i < arr_patterns; ++i) {
        XmPattern& p = song.patterns[i];
        p.rows = (i == 6 || i == 12) ? 64 : 128;
        p.cells.assign(static_cast<std::size_t>(p.rows * arr_channels), XmCell{});
        writers[i](p);
        place_in_stereo(p);
    }
}
