// The yardstick of every speed figure: one memcpy of a whole 320 × 240 × 4 frame, timed in the
// process that reports the ratio.
#pragma once

// Median time of one frame copy, in seconds: thousands of single copies between two warm
// buffers. Measured on the first call, the same value afterwards.
double bench_memcpy_seconds();

#include <benchmark/benchmark.h>

// Adds the counter "x_memcpy" to a benchmark whose iterations each handle one whole frame: the
// time of one iteration as a multiple of bench_memcpy_seconds.
inline void bench_report_memcpy_ratio(benchmark::State& state) {
    // A rate over CPU time, inverted: (time / iterations) / memcpy time.
    state.counters["x_memcpy"] =
        benchmark::Counter(bench_memcpy_seconds(), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}
