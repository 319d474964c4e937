// Sync state: what the module's sync marks tell the picture. The sound layer calls
// sync_event_proc on the main loop's own thread, inside its position and activity queries, so
// only that thread touches this state. The shared values are lock-free 32-bit atomics all the
// same, read and written with relaxed single loads and stores (plain moves on every target), so
// that marks delivered from another thread would at worst reach a frame one frame late.
#pragma once

#include <atomic>
#include <cstdint>

#include "sound/bassmod.h"

extern std::atomic<float> flash_level;            // white flash, 1.0 on a flash mark, decays to 0
extern std::atomic<std::int32_t> mask_selection;  // picks the image within a mask set, 0 to 255
extern std::atomic<std::int32_t> beat_count;      // beats so far; turns the tunnel
extern std::int32_t second_half_started;          // main thread only: the second half has begun

static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

// Data 254 counts a beat, 255 fires a flash, anything else selects a mask (its low 8 bits).
void sync_event_proc(HSYNC handle, std::uint32_t data, std::uint32_t user);
// Back to the state at process start (all zero).
void sync_reset();
