// The audible-position model on a table of devices, stamps and times, and the no-sound clock.
#include "sound/audible.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr std::int64_t ms = 1000000;  // nanoseconds
constexpr std::int64_t t0 = 5000 * ms;

struct ModelCase {
    const char* what;
    AudibleDevice device;
    AudibleStamp stamp;
    std::int64_t now;
    std::uint64_t heard;
};

// 512 frames are 11.61 ms at 44100 Hz; 5 ms are 220.5 frames, 20 ms 882.
const ModelCase model_cases[] = {
    {"double-buffered, at the callback: one buffer behind what is written",
     {44100, 512, 512},
     {10000, t0},
     t0,
     9488},
    {"double-buffered, 5 ms on", {44100, 512, 512}, {10000, t0}, t0 + 5 * ms, 9708},
    {"double-buffered, one period on: what was written before the callback",
     {44100, 512, 512},
     {10000, t0},
     t0 + 11610 * 1000,
     10000},
    {"double-buffered, a stalled device stops at the end of the written buffer",
     {44100, 512, 512},
     {10000, t0},
     t0 + 3000 * ms,
     10512},
    {"takes at once (disk): the callback's first frame is heard at the callback",
     {44100, 512, 0},
     {10000, t0},
     t0,
     10000},
    {"takes at once, 5 ms on", {44100, 512, 0}, {10000, t0}, t0 + 5 * ms, 10220},
    {"takes at once, a late callback holds at the end of the buffer",
     {44100, 512, 0},
     {10000, t0},
     t0 + 20 * ms,
     10512},
    {"the first buffer: nothing heard before the queue has played",
     {44100, 512, 512},
     {0, t0},
     t0 + 5 * ms,
     0},
    {"the first buffer, 20 ms on", {44100, 512, 512}, {0, t0}, t0 + 20 * ms, 370},
    {"another rate and period", {48000, 1024, 1024}, {96000, t0}, t0 + 10 * ms, 95456},
    {"a clock read before the stamp counts as the stamp's time",
     {44100, 512, 512},
     {10000, t0},
     t0 - 7 * ms,
     9488},
    {"a stamp from the far past cannot overflow",
     {192000, 4096, 4096},
     {1, INT64_MIN},
     INT64_MAX,
     4097},
};

TEST(AudibleModel, TableOfDevicesStampsAndTimes) {
    for (const ModelCase& c : model_cases) {
        EXPECT_EQ(audible_frame(c.device, c.stamp, c.now), c.heard) << c.what;
    }
}

TEST(AudibleModel, NoSoundClockIsExactAndSafe) {
    struct {
        std::uint32_t rate;
        std::int64_t ns;
        std::uint64_t frames;
    } const cases[] = {
        {44100, 0, 0},
        {44100, -5 * ms, 0},
        {44100, 22675, 0},  // just under one frame
        {44100, 22676, 1},
        {44100, 1000 * ms, 44100},
        {44100, 1500 * ms + 1, 66150},
        {8000, 3600000 * ms, 28800000},
        // A year in nanoseconds: a single product would overflow 64 bits at 192 kHz.
        {192000, 31536000000 * ms, 6054912000000},
        {192000, INT64_MAX, 9223372036ull * 192000 + 854775807ull * 192000 / 1000000000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(audible_clock(c.rate, c.ns), c.frames) << c.rate << " Hz, " << c.ns << " ns";
    }
}

}  // namespace
