// The sync procedure and the state it hands to the main loop.
#include "driver/sync.h"

std::atomic<float> flash_level{0.0f};
std::atomic<std::int32_t> mask_selection{0};
std::atomic<std::int32_t> beat_count{0};
std::int32_t second_half_started = 0;

void sync_event_proc(HSYNC, std::uint32_t data, std::uint32_t) {
    constexpr auto relaxed = std::memory_order_relaxed;
    switch (data) {
        case 254:
            // Only this procedure counts beats, so a separate load and store lose nothing.
            beat_count.store(beat_count.load(relaxed) + 1, relaxed);
            break;
        case 255:
            flash_level.store(1.0f, relaxed);
            break;
        default:
            mask_selection.store(static_cast<std::int32_t>(data & 0xFF), relaxed);
            break;
    }
}

void sync_reset() {
    flash_level.store(0.0f, std::memory_order_relaxed);
    mask_selection.store(0, std::memory_order_relaxed);
    beat_count.store(0, std::memory_order_relaxed);
    second_half_started = 0;
}
