// Decodes the loaded module with libopenmpt one tick at a time and announces every row it starts
// through the row queue (sound/row_ring.h). Functions that can fail return 1 on success, 0 on
// failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sound/row_ring.h"

// dec_song_end() before decoding has reached the end of the song.
inline constexpr std::uint64_t dec_end_unknown = UINT64_MAX;

// Loads the module in `length` bytes at `data` for output at `rate` Hz and indexes its sync
// marks. 0 when libopenmpt rejects the bytes or the module exceeds the mark index.
int dec_load(const void* data, std::size_t length, std::uint32_t rate);
// Renders the samples cheaply (nearest-sample resampling instead of the interpolation filter)
// when `on`, for decoding whose sound nobody hears: rows, their lengths and their marks stay
// exactly the same, only the samples differ. Kept across loads; off by default. Only while no
// other thread decodes.
void dec_set_draft(int on);
// Releases the module. Safe when none is loaded.
void dec_unload();
// Goes back to the song's first order, row 0, frame 0. Only while no other thread decodes.
void dec_rewind();
// Decodes at most one tick and at most `max_frames` frames of interleaved 16-bit stereo into
// `out`, queueing a RowEvent for each row it starts. Returns the frames written; 0 at the end.
std::uint32_t dec_step(std::int16_t* out, std::uint32_t max_frames);
// First frame of the latest row decoded (0 before any). Decoding thread only.
std::uint64_t dec_last_row_start();
// The song's length in frames once decoding has reached its end, else dec_end_unknown. Any thread.
std::uint64_t dec_song_end();
// Parameters of the sync marks (effect W) in `pattern` at `row`, in channel order. Read-only
// between dec_load and dec_unload; empty for a pattern or row the module does not have.
std::span<const std::uint8_t> dec_marks(int pattern, int row);
// The row that plays after `row` (decoded, or itself foretold) and where it starts, read from the
// patterns and the order list without decoding: 1 with `next` filled (foretold set; nominal_len 0
// when it sets its own speed, tempo or delay), 0 when the patterns leave it open (a jump, break,
// loop, row delay or unknown effect in `row`, or `row`'s own length unknown) or the song ends
// after `row`. Read-only between dec_load and dec_unload.
int dec_foretell(const RowEvent& row, RowEvent* next);
