// A lock-free single-producer/single-consumer queue of the rows the decoder has started.
#pragma once

#include <cstdint>

// Rows the queue holds. 4096 rows are 40 s of music at the fastest tempo XM can set (speed 1 at
// 255 BPM: 102 rows a second); the consumer empties the queue on every position query, which the
// show makes every frame, so it fills only if nobody asks for the position for that long.
inline constexpr std::uint32_t ring_capacity = 4096;  // a power of two: indices wrap with a mask
static_assert((ring_capacity & (ring_capacity - 1)) == 0);

// One row as decoded (or as foretold by the patterns): where it starts, which order/row/pattern it
// is, and how long it should be.
struct RowEvent {
    std::uint64_t start;        // first frame of the row, counted from the song's start
    std::uint32_t nominal_len;  // ticks per row × frames per tick when the row started; 0 unknown
    std::uint32_t index;        // rows played before this one since the song's start
    std::uint16_t order;
    std::uint16_t row;
    std::uint16_t pattern;
    bool foretold;  // not decoded yet: start and nominal_len are predicted from earlier rows
};

// Appends `e`; producer thread only. 0 when the queue is full (the event is then dropped): the
// queue holds ring_capacity rows, more than the producer starts between two consumer visits.
int ring_push(const RowEvent& e);
// Copies the oldest event into `e` without removing it; consumer thread only. 0 when empty.
int ring_peek(RowEvent& e);
// Removes the oldest event; consumer thread only. Call after a successful ring_peek.
void ring_pop();
// Empties the queue. Only while no producer runs (device paused or closed).
void ring_reset();
