// Speed of the row converters: one whole 320 × 240 frame per iteration, in each of the eight
// formats.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/memcpy_ref.h"
#include "display/convert.h"

namespace {

Pixel32 frame[screen_pixels];
// Destination rows with a pitch wider than a converted row, as textures often have.
constexpr int pitch = screen_width * 4 + 64;
alignas(64) std::uint8_t surface[pitch * screen_height];

void convert_frame(benchmark::State& state, ConvertFn fn) {
    std::uint32_t s = 1;
    for (Pixel32& p : frame) p = (s = s * 1664525u + 1013904223u) & 0xFFFFFF;
    for (auto _ : state) {
        for (int y = 0; y < screen_height; y++) {
            fn(frame + y * screen_width, surface + y * pitch, screen_width);
        }
        benchmark::DoNotOptimize(surface);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * screen_pixels);
    bench_report_memcpy_ratio(state);
}

}  // namespace

BENCHMARK_CAPTURE(convert_frame, 32_rgb888, conv_32_rgb888);
BENCHMARK_CAPTURE(convert_frame, 32_bgr888, conv_32_bgr888);
BENCHMARK_CAPTURE(convert_frame, 24_rgb888, conv_24_rgb888);
BENCHMARK_CAPTURE(convert_frame, 24_bgr888, conv_24_bgr888);
BENCHMARK_CAPTURE(convert_frame, 16_rgb565, conv_16_rgb565);
BENCHMARK_CAPTURE(convert_frame, 16_bgr565, conv_16_bgr565);
BENCHMARK_CAPTURE(convert_frame, 16_rgb555, conv_16_rgb555);
BENCHMARK_CAPTURE(convert_frame, 16_bgr555, conv_16_bgr555);
