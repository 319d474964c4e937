// The libopenmpt decoder: tick-sized reads, row detection and the index of sync marks.
#include "sound/decoder.h"

#include <libopenmpt/libopenmpt.h>

#include <atomic>
#include <cstring>

#include "sound/row_ring.h"

namespace {

// The mark index holds every row of every pattern an XM can have (256 patterns of up to 256
// rows). Only other formats can need more; they are rejected rather than half indexed.
constexpr int max_patterns = 1024;
constexpr std::uint32_t max_rows = 65536;
constexpr std::uint32_t max_marks = 65536;

static struct {
    openmpt_module* mod;
    std::uint32_t rate;
    std::uint64_t frames;          // frames decoded since the start
    std::uint32_t tick_left;       // frames still to read of the current tick; 0 at a tick start
    std::uint64_t last_row_start;  // first frame of the latest row queued
    int last_order, last_row;      // -1 before the first row
    std::atomic<std::uint64_t> song_end{dec_end_unknown};

    // Mark index: the marks of pattern p, row r are marks[first[base[p] + r] .. first[.. + 1]).
    int num_patterns;
    std::uint32_t pattern_base[max_patterns + 1];
    std::uint32_t first[max_rows + 1];
    std::uint8_t marks[max_marks];
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

// True if the formatted effect of this cell is the sync mark. libopenmpt keeps W with its
// parameter but under an internal command number, so the letter is what identifies it.
bool is_mark(int pattern, int row, int channel) {
    const char* text = openmpt_module_format_pattern_row_channel_command(
        dec.mod, pattern, row, channel, OPENMPT_MODULE_COMMAND_EFFECT);
    const bool w = text && std::strcmp(text, "W") == 0;
    openmpt_free_string(text);
    return w;
}

// Fills the mark index from the patterns. 0 when the module has more rows or marks than it holds.
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
            dec.first[rows++] = count;
            for (int c = 0; c < channels; ++c) {
                if (!is_mark(p, r, c)) continue;
                if (count == max_marks) return 0;
                dec.marks[count++] = openmpt_module_get_pattern_row_channel_command(
                    dec.mod, p, r, c, OPENMPT_MODULE_COMMAND_PARAMETER);
            }
        }
    }
    dec.pattern_base[patterns] = rows;
    dec.first[rows] = count;
    dec.num_patterns = patterns;
    return 1;
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

}  // namespace

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
    dec_rewind();
    return 1;
}

void dec_unload() {
    if (dec.mod) openmpt_module_destroy(dec.mod);
    dec.mod = nullptr;
    dec.num_patterns = 0;
    dec.frames = 0;
    dec.song_end.store(dec_end_unknown, std::memory_order_relaxed);
}

void dec_rewind() {
    // Only after a first read has moved the song: a fresh module is already at its start.
    if (dec.frames) openmpt_module_set_position_order_row(dec.mod, 0, 0);
    dec.frames = 0;
    dec.tick_left = 0;
    dec.last_row_start = 0;
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
            RowEvent e{};
            e.start = dec.frames;
            e.nominal_len = static_cast<std::uint32_t>(speed > 0 ? speed : 1) * tick;
            e.order = static_cast<std::uint16_t>(order);
            e.row = static_cast<std::uint16_t>(row);
            e.pattern = static_cast<std::uint16_t>(openmpt_module_get_current_pattern(dec.mod));
            ring_push(e);
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

std::uint64_t dec_frames() {
    return dec.frames;
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
