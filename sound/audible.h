// The audible-position model: which song frame the listener hears now, from the stamps the sound
// device's callbacks leave or from a plain clock. Pure functions, shared by every device backend.
#pragma once

#include <cstdint>

// What one callback leaves behind.
struct AudibleStamp {
    std::uint64_t frames;  // frames handed to the device before this callback's buffer
    std::int64_t ns;       // steady-clock time at which the callback started
};

// The device as opened.
struct AudibleDevice {
    std::uint32_t rate;    // frames per second
    std::uint32_t period;  // frames per callback buffer
    std::uint32_t queued;  // frames the device still holds, unplayed, when a callback starts
};

// Frames of a `rate` Hz clock in `ns` nanoseconds, rounded down; 0 for ns <= 0. Cannot overflow.
std::uint64_t audible_clock(std::uint32_t rate, std::int64_t ns);

// The frame heard at `now_ns` after the callback `stamp`: stamp.frames - queued + the frames of
// the time since the stamp, at least 0 and at most stamp.frames + period, the end of what has been
// written (so a device that stalls holds the estimate there).
std::uint64_t audible_frame(const AudibleDevice& device, const AudibleStamp& stamp,
                            std::int64_t now_ns);
