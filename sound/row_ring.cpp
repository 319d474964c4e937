// A lock-free single-producer/single-consumer queue of decoded rows, in one static array.
#include "sound/row_ring.h"

#include <atomic>

namespace {

static struct {
    RowEvent slots[ring_capacity];
    std::atomic<std::uint32_t> head{0};  // next slot to write; written by the producer only
    std::atomic<std::uint32_t> tail{0};  // next slot to read; written by the consumer only
} ring;

}  // namespace

int ring_push(const RowEvent& e) {
    const std::uint32_t head = ring.head.load(std::memory_order_relaxed);
    // Counters run freely and wrap together, so head - tail is the fill level even after wrap.
    if (head - ring.tail.load(std::memory_order_acquire) == ring_capacity) return 0;
    ring.slots[head & (ring_capacity - 1)] = e;
    ring.head.store(head + 1, std::memory_order_release);  // publishes the slot just written
    return 1;
}

int ring_peek(RowEvent& e) {
    const std::uint32_t tail = ring.tail.load(std::memory_order_relaxed);
    if (tail == ring.head.load(std::memory_order_acquire)) return 0;
    e = ring.slots[tail & (ring_capacity - 1)];
    return 1;
}

void ring_pop() {
    // Release: the producer may reuse the slot only after this read of it is done.
    ring.tail.store(ring.tail.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void ring_reset() {
    ring.head.store(0, std::memory_order_relaxed);
    ring.tail.store(0, std::memory_order_relaxed);
}
