// Speed of one frame of each whole-frame blend.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "bench/memcpy_ref.h"
#include "effects/blend.h"

namespace {

Pixel32 bench_frame[screen_pixels];
Pixel32 bench_mask[screen_pixels];

void BM_FadeToColor(benchmark::State& state) {
    std::fill(bench_frame, bench_frame + screen_pixels, 0x00804020);
    std::int32_t amount = 0;
    for (auto _ : state) {
        fade_to_color(bench_frame, 0xFFFFFF, amount++);
        benchmark::DoNotOptimize(bench_frame);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * screen_pixels);
    state.SetBytesProcessed(state.iterations() * screen_pixels * 4 * 2);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_FadeToColor);

void BM_MultiplyMask(benchmark::State& state) {
    for (int i = 0; i < screen_pixels; ++i) {
        bench_frame[i] = 0x00FFFFFF;
        bench_mask[i] = (i & 255) * 0x010101u;
    }
    for (auto _ : state) {
        multiply_mask(bench_frame, bench_mask);
        benchmark::DoNotOptimize(bench_frame);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * screen_pixels);
    state.SetBytesProcessed(state.iterations() * screen_pixels * 4 * 3);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_MultiplyMask);

// The flash and the mask of a masked order in one pass: compare with the two above together.
void BM_FadeAndMask(benchmark::State& state) {
    for (int i = 0; i < screen_pixels; ++i) {
        bench_frame[i] = 0x00FFFFFF;
        bench_mask[i] = (i & 255) * 0x010101u;
    }
    std::int32_t amount = 0;
    for (auto _ : state) {
        fade_and_mask(bench_frame, 0xFFFFFF, amount++, bench_mask);
        benchmark::DoNotOptimize(bench_frame);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * screen_pixels);
    state.SetBytesProcessed(state.iterations() * screen_pixels * 4 * 3);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_FadeAndMask);

}  // namespace
