// The libopenmpt decoder: tick-sized reads, row detection and the index of sync marks.
#include "sound/decoder.h"

#include <libopenmpt/libopenmpt.h>

#include <atomic>
#include <cassert>
#include <cstring>

#include "sound/row_ring.h"

namespace {

// The mark index holds every row of every pattern an XM can have (256 patterns of up to 256
// rows). Only other formats can need more; they are rejected rather than half indexed.
constexpr int max_patterns = 1024;
constexpr std::uint32_t max_rows = 65536;
constexpr std::uint32_t max_marks = 65536;
// XM's order list is at most 256 long; rows after a longer list's 256th entry are not foretold.
constexpr int max_orders = 256;

// What a row's effects do to the flow of rows, as far as foretelling the next row goes.
constexpr std::uint8_t flow_jumps = 1;    // the next row may not be the one after it in order
constexpr std::uint8_t flow_longer = 2;   // it lasts longer than its speed × tick (a row delay)
constexpr std::uint8_t flow_retimes = 4;  // it sets speed or tempo: its length is its own
constexpr std::uint8_t flow_unknown = flow_jumps | flow_longer | flow_retimes;

static struct {
    openmpt_module* mod;
    std::uint32_t rate;
    bool draft;                    // dec_set_draft: cheap samples
    std::uint64_t frames;          // frames decoded since the start
    std::uint32_t tick_left;       // frames still to read of the current tick; 0 at a tick start
    std::uint64_t last_row_start;  // first frame of the latest row queued
    std::uint32_t rows_started;    // rows queued since the start
    int last_order, last_row;      // -1 before the first row
    std::atomic<std::uint64_t> song_end{dec_end_unknown};

    // Mark index: the marks of pattern p, row r are marks[first[base[p] + r] .. first[.. + 1]).
    int num_patterns;
    std::uint32_t pattern_base[max_patterns + 1];
    std::uint32_t first[max_rows + 1];
    std::uint8_t marks[max_marks];
    std::uint8_t flow[max_rows];  // flow_* bits of each row, indexed like `first`
    // The order list: the pattern each order plays (only the first max_orders entries).
    int num_orders;
    std::uint16_t order_pattern[max_orders];
} dec;

// Frames in one tick at the current tempo: 2.5 s ÷ BPM, as XM timing defines a tick.
std::uint32_t tick_frames() {
    std::int32_t bpm = openmpt_module_get_current_tempo(dec.mod);
    if (bpm <= 0) bpm = 125;  // no tempo reported: XM's default rather than a division by zero
    // Floor, as libopenmpt rounds XM ticks: at 44100 Hz, BPM 126 gives exactly 875 frames and
    // BPM 127 gives 868.
    const auto frames = std::uint64_t{dec.rate} * 5 / (2 * std::uint64_t(bpm));
    return frames > 1 ? static_cast<std::uint32_t>(frames) : 1;  // absurd tempos: still progress
}

// What one cell's effect is: its parameter when it is the sync mark (returns 1), otherwise 0, with
// its flow_* bits added to `flow`. libopenmpt keeps W with its parameter but under an internal
// command number, so the letter is what identifies it, and the letters name the other effects.
int read_cell(int pattern, int row, int channel, std::uint8_t* param, std::uint8_t* flow) {
    const auto get = [&](int what) {
        return openmpt_module_get_pattern_row_channel_command(dec.mod, pattern, row, channel, what);
    };
    if (get(OPENMPT_MODULE_COMMAND_EFFECT) == 0) return 0;  // no effect in this cell
    const char* text = openmpt_module_format_pattern_row_channel_command(
        dec.mod, pattern, row, channel, OPENMPT_MODULE_COMMAND_EFFECT);
    const char letter = text && text[0] && !text[1] ? text[0] : '?';
    openmpt_free_string(text);
    *param = get(OPENMPT_MODULE_COMMAND_PARAMETER);
    const int sub = *param >> 4;  // the sub-command of E and X
    switch (letter) {
        case 'W':
            return 1;
        case 'B':  // position jump
        case 'D':  // pattern break
            *flow |= flow_jumps;
            break;
        case 'F':  // speed or tempo; F00 stops the song
            *flow |= *param ? flow_retimes : flow_unknown;
            break;
        case 'E':  // E6x loops back to an earlier row, EEx repeats the row x times
            if (sub == 0x6) *flow |= flow_jumps;
            if (sub == 0xE) *flow |= flow_longer;
            break;
        case 'X':  // X1x and X2x are fine slides; the other sub-commands are extensions
            if (sub != 0x1 && sub != 0x2) *flow |= flow_unknown;
            break;
        default:
            // Slides, vibrato, volume, panning, offsets and the like leave the rows alone; any
            // letter not known to do so is taken to change everything.
            if (!std::strchr("0123456789ACGHKLPRT", letter)) *flow |= flow_unknown;
            break;
    }
    return 0;
}

// Fills the mark and flow index from the patterns and copies the order list. 0 when the module
// has more rows or marks than the index holds.
int index_marks() {
    const int patterns = openmpt_module_get_num_patterns(dec.mod);
    const int channels = openmpt_module_get_num_channels(dec.mod);
    if (patterns < 0 || patterns > max_patterns) return 0;
    std::uint32_t rows = 0, count = 0;
    for (int p = 0; p < patterns; ++p) {
        dec.pattern_base[p] = rows;
        const int n = openmpt_module_get_pattern_num_rows(dec.mod, p);
        for (int r = 0; r < n; ++r) {
            if (rows == max_rows) return 0;
            dec.flow[rows] = 0;
            dec.first[rows] = count;
            for (int c = 0; c < channels; ++c) {
                std::uint8_t param = 0;
                if (!read_cell(p, r, c, &param, &dec.flow[rows])) continue;
                if (count == max_marks) return 0;
                dec.marks[count++] = param;
            }
            ++rows;
        }
    }
    dec.pattern_base[patterns] = rows;
    dec.first[rows] = count;
    dec.num_patterns = patterns;
    const int orders = openmpt_module_get_num_orders(dec.mod);
    dec.num_orders = orders < 0 ? 0 : orders < max_orders ? orders : max_orders;
    for (int o = 0; o < dec.num_orders; ++o) {
        const int p = openmpt_module_get_order_pattern(dec.mod, o);
        // Marker entries and missing patterns become an index that never names a pattern.
        dec.order_pattern[o] =
            static_cast<std::uint16_t>(p >= 0 && p < patterns ? p : max_patterns);
    }
    return 1;
}

// Rows of pattern `p`, 0 for a pattern the module does not have.
std::uint32_t pattern_rows(int p) {
    if (p < 0 || p >= dec.num_patterns) return 0;
    return dec.pattern_base[p + 1] - dec.pattern_base[p];
}

// Renders up to `count` frames at `out`; fewer only at the end of the song.
std::uint32_t read(std::int16_t* out, std::uint32_t count) {
    return static_cast<std::uint32_t>(openmpt_module_read_interleaved_stereo(
        dec.mod, static_cast<std::int32_t>(dec.rate), count, out));
}

// Counts the last `got` frames and marks the song as ended after them. libopenmpt reports
// order 0, row 0 after its last read; that is not taken for a new row. Returns `got`.
std::uint32_t end_of_song(std::uint32_t got) {
    dec.frames += got;
    dec.song_end.store(dec.frames, std::memory_order_release);
    return got;
}

// The resampler as dec_set_draft asks: filter length 1 is nearest-sample, 0 libopenmpt's default.
// Resampling shapes only the samples; the song's timing comes from ticks and tempo alone.
void apply_draft() {
    openmpt_module_set_render_param(dec.mod, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH,
                                    dec.draft ? 1 : 0);
}

}  // namespace

void dec_set_draft(int on) {
    dec.draft = on != 0;
    if (dec.mod) apply_draft();
}

int dec_load(const void* data, std::size_t length, std::uint32_t rate) {
    dec_unload();
    // "stop": the song ends with its last row (the default fades out for another 100 ms).
    // No dither: the 16-bit output is then the same on every run.
    const openmpt_module_initial_ctl ctls[] = {
        {"play.at_end", "stop"}, {"dither", "0"}, {nullptr, nullptr}};
    int error = 0;
    const char* message = nullptr;
    dec.mod = openmpt_module_create_from_memory2(data, length, openmpt_log_func_silent, nullptr,
                                                 openmpt_error_func_store, nullptr, &error,
                                                 &message, ctls);
    openmpt_free_string(message);
    if (!dec.mod) return 0;
    if (!openmpt_module_set_repeat_count(dec.mod, 0) || !index_marks()) {
        dec_unload();
        return 0;
    }
    dec.rate = rate;
    apply_draft();
    dec_rewind();
    return 1;
}

void dec_unload() {
    if (dec.mod) openmpt_module_destroy(dec.mod);
    dec.mod = nullptr;
    dec.num_patterns = 0;
    dec.num_orders = 0;
    dec.frames = 0;
    dec.song_end.store(dec_end_unknown, std::memory_order_relaxed);
}

void dec_rewind() {
    // Only after a first read has moved the song: a fresh module is already at its start.
    if (dec.frames) openmpt_module_set_position_order_row(dec.mod, 0, 0);
    dec.frames = 0;
    dec.tick_left = 0;
    dec.last_row_start = 0;
    dec.rows_started = 0;
    dec.last_order = dec.last_row = -1;
    dec.song_end.store(dec_end_unknown, std::memory_order_relaxed);
}

std::uint32_t dec_step(std::int16_t* out, std::uint32_t max_frames) {
    if (!dec.mod || max_frames == 0 || dec_song_end() != dec_end_unknown) return 0;
    std::uint32_t got = 0;
    if (dec.tick_left == 0) {
        // A tick starts: one frame first. libopenmpt processes the tick before rendering any of
        // it, so the row, speed and tempo it reports now are this tick's own, including a tempo
        // set on this very row, and the rest of the tick can be read to the exact frame.
        if (read(out, 1) < 1) return end_of_song(0);
        got = 1;
        const int order = openmpt_module_get_current_order(dec.mod);
        const int row = openmpt_module_get_current_row(dec.mod);
        const std::uint32_t tick = tick_frames();
        if (order != dec.last_order || row != dec.last_row) {
            const std::int32_t speed = openmpt_module_get_current_speed(dec.mod);
            const int e_pattern = openmpt_module_get_current_pattern(dec.mod);
            RowEvent e{};
            e.start = dec.frames;
            e.nominal_len = static_cast<std::uint32_t>(speed > 0 ? speed : 1) * tick;
            // A row delay plays the row more than once: its length shows only when it ends.
            const std::uint32_t rows = pattern_rows(e_pattern);
            if (row >= 0 && static_cast<std::uint32_t>(row) < rows &&
                (dec.flow[dec.pattern_base[e_pattern] + row] & flow_longer)) {
                e.nominal_len = 0;
            }
            e.index = dec.rows_started++;
            e.order = static_cast<std::uint16_t>(order);
            e.row = static_cast<std::uint16_t>(row);
            e.pattern = static_cast<std::uint16_t>(e_pattern);
            // The queue is sized for far more rows than start between two position queries
            // (sound/row_ring.h); a full one would lose this row's marks, so it is a fault.
            [[maybe_unused]] const int queued = ring_push(e);
            assert(queued);
            dec.last_order = order;
            dec.last_row = row;
            dec.last_row_start = dec.frames;
        }
        dec.tick_left = tick - 1;
    }
    const std::uint32_t room = max_frames - got;
    const std::uint32_t want = dec.tick_left < room ? dec.tick_left : room;
    const std::uint32_t more = want ? read(out + 2 * got, want) : 0;
    // Only the end of the song gives a short read.
    if (more < want) return end_of_song(got + more);
    dec.tick_left -= more;
    dec.frames += got + more;
    return got + more;
}

std::uint64_t dec_last_row_start() {
    return dec.last_row_start;
}

std::uint64_t dec_song_end() {
    return dec.song_end.load(std::memory_order_acquire);
}

std::span<const std::uint8_t> dec_marks(int pattern, int row) {
    if (pattern < 0 || pattern >= dec.num_patterns || row < 0) return {};
    const std::uint32_t index = dec.pattern_base[pattern] + static_cast<std::uint32_t>(row);
    if (index >= dec.pattern_base[pattern + 1]) return {};
    return {dec.marks + dec.first[index], dec.marks + dec.first[index + 1]};
}

int dec_foretell(const RowEvent& row, RowEvent* next) {
    const std::uint32_t rows = pattern_rows(row.pattern);
    // A row of unknown length (foretold, with its own speed, tempo or delay) ends who knows when.
    if (row.row >= rows || row.nominal_len == 0) return 0;
    // A row that may jump or repeat leaves the next row unknown.
    if (dec.flow[dec.pattern_base[row.pattern] + row.row] & (flow_jumps | flow_longer)) return 0;
    RowEvent n = row;
    n.start = row.start + row.nominal_len;
    n.index = row.index + 1;
    n.foretold = true;
    if (row.row + 1u < rows) {
        n.row = static_cast<std::uint16_t>(row.row + 1);
    } else {
        // The pattern's last row: the next order's first row, if the list goes on.
        const int order = row.order + 1;
        if (order >= dec.num_orders || pattern_rows(dec.order_pattern[order]) == 0) return 0;
        n.order = static_cast<std::uint16_t>(order);
        n.row = 0;
        n.pattern = dec.order_pattern[order];
    }
    // Speed and tempo carry over from the row before, unless this row sets its own or repeats.
    if (dec.flow[dec.pattern_base[n.pattern] + n.row] & (flow_longer | flow_retimes)) {
        n.nominal_len = 0;
    }
    *next = n;
    return 1;
}
