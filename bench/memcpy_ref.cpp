// The frame-copy yardstick: the median of many single copies.
#include "bench/memcpy_ref.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "assets/pixel.h"

namespace {

double measure() {
    alignas(64) static Pixel32 from[screen_pixels], to[screen_pixels];
    for (int i = 0; i < screen_pixels; ++i) from[i] = static_cast<Pixel32>(i * 2654435761u);
    std::vector<double> times(4001);
    for (double& t : times) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(to, from, sizeof to);
        // Both buffers escape, so the copy cannot be dropped or merged with the next one.
        asm volatile("" : : "r"(to), "r"(from) : "memory");
        t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

}  // namespace

double bench_memcpy_seconds() {
    static const double seconds = measure();
    return seconds;
}
