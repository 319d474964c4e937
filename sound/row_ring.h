// A lock-free single-producer/single-consumer queue of the rows the decoder has started.
#pragma once

#include <cstdint>

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

// Appends `e`; producer thread only. 0 when the queue is full (the event is then dropped).
int ring_push(const RowEvent& e);
// Copies the oldest event into `e` without removing it; consumer thread only. 0 when empty.
int ring_peek(RowEvent& e);
// Removes the oldest event; consumer thread only. Call after a successful ring_peek.
void ring_pop();
// Empties the queue. Only while no producer runs (device paused or closed).
void ring_reset();
// Events dropped because the queue was full since the last reset.
std::uint32_t ring_dropped();
