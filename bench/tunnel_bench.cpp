// Speed of one tunnel frame: tracing the ray grid, drawing the blocks, and for scale a plain copy
// of one 320 × 240 × 4 frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "bench/memcpy_ref.h"
#include "tunnel/mapper.h"
#include "tunnel/mapper_paths.h"
#include "tunnel/rays.h"

namespace {

Pixel32 frame[screen_pixels];
Pixel32 copy[screen_pixels];
Pixel32 texture[256 * 256];

void setup() {
    rays_init();
    std::uint32_t x = 12345;
    for (Pixel32& t : texture) t = (x = x * 1664525u + 1013904223u) >> 8;  // any content will do
}

// A mid-song frame with a beat turn: typical depth spread and texture access.
constexpr float bench_time = 1337.5f;
constexpr std::int32_t bench_beats = 21;

void BM_TunnelTrace(benchmark::State& state) {
    setup();
    float T = bench_time;
    for (auto _ : state) {
        tunnel_trace(tunnel_camera(T, bench_beats));
        benchmark::DoNotOptimize(uv_grid);
        T += 0.01f;  // keep the camera moving, as in the show
    }
    state.SetItemsProcessed(state.iterations() * grid_points);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_TunnelTrace);

// Each path of the trace this processor runs, on the same moving camera.
void BM_TracePath(benchmark::State& state) {
    setup();
    int count = 0;
    const TracePath* paths = trace_paths(&count);
    if (state.range(0) >= count) {
        state.SkipWithError("not run by this processor");
        return;
    }
    const TracePath& path = paths[state.range(0)];
    state.SetLabel(path.name);
    float T = bench_time;
    for (auto _ : state) {
        path.trace(tunnel_camera(T, bench_beats));
        benchmark::DoNotOptimize(uv_grid);
        T += 0.01f;
    }
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_TracePath)->DenseRange(0, 2);

void BM_TunnelDraw(benchmark::State& state) {
    setup();
    tunnel_trace(tunnel_camera(bench_time, bench_beats));
    for (auto _ : state) {
        tunnel_draw(frame, texture);
        benchmark::DoNotOptimize(frame);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * sizeof frame);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_TunnelDraw);

// Each path of the mapper this processor runs, on the same frame.
void BM_MapperPath(benchmark::State& state) {
    setup();
    tunnel_trace(tunnel_camera(bench_time, bench_beats));
    int count = 0;
    const MapperPath* paths = mapper_paths(&count);
    if (state.range(0) >= count) {
        state.SkipWithError("not run by this processor");
        return;
    }
    const MapperPath& path = paths[state.range(0)];
    state.SetLabel(path.name);
    for (auto _ : state) {
        path.draw(frame, texture);
        benchmark::DoNotOptimize(frame);
        benchmark::ClobberMemory();
    }
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_MapperPath)->DenseRange(0, 2);

void BM_FrameMemcpy(benchmark::State& state) {
    for (auto _ : state) {
        std::memcpy(copy, frame, sizeof frame);
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * sizeof frame);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_FrameMemcpy);

}  // namespace
