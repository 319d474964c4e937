// Speed of the blends: a fade of one frame, of one texture from its source (what a frame with
// a new fade level pays), and the mask multiply of one frame, from a picture or from grey bytes,
// with the same mask every frame or a different one of twenty (as many as the show has), which
// then comes from further out in the memory hierarchy.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "bench/memcpy_ref.h"
#include "effects/blend.h"
#include "effects/faded_texture.h"

namespace {

Pixel32 bench_frame[screen_pixels];
Pixel32 bench_mask[screen_pixels];
Pixel32 bench_texture[texture_texels];
Pixel32 bench_faded[texture_texels];
constexpr int rotating_masks = 20;
Pixel32 mask_pictures[rotating_masks][screen_pixels];
std::uint8_t mask_greys[rotating_masks][screen_pixels];

void BM_FadeToColor(benchmark::State& state) {
    std::fill(bench_frame, bench_frame + screen_pixels, 0x00804020);
    std::int32_t amount = 0;
    for (auto _ : state) {
        fade_to_color(bench_frame, bench_frame, screen_pixels, 0xFFFFFF, amount++);
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

// Arguments: grey (0: the picture, 1: grey bytes), masks in turn (1 or rotating_masks).
void BM_MultiplyMaskFrom(benchmark::State& state) {
    const bool grey = state.range(0) != 0;
    const int count = static_cast<int>(state.range(1));
    for (int k = 0; k < rotating_masks; ++k) {
        for (int i = 0; i < screen_pixels; ++i) {
            mask_greys[k][i] = static_cast<std::uint8_t>(i + k);
            mask_pictures[k][i] = mask_greys[k][i] * 0x010101u;
        }
    }
    std::fill(bench_frame, bench_frame + screen_pixels, 0x00FFFFFF);
    int k = 0;
    for (auto _ : state) {
        if (grey) {
            multiply_grey_mask(bench_frame, mask_greys[k]);
        } else {
            multiply_mask(bench_frame, mask_pictures[k]);
        }
        k = (k + 1) % count;
        benchmark::DoNotOptimize(bench_frame);
        benchmark::ClobberMemory();
    }
    state.SetLabel(grey ? "grey" : "picture");
    state.SetItemsProcessed(state.iterations() * screen_pixels);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_MultiplyMaskFrom)->ArgsProduct({{0, 1}, {1, rotating_masks}});

void BM_FadeTexture(benchmark::State& state) {
    std::fill(bench_texture, bench_texture + texture_texels, 0x00804020);
    std::int32_t amount = 0;
    for (auto _ : state) {
        fade_to_color(bench_faded, bench_texture, texture_texels, 0xFFFFFF, amount++);
        benchmark::DoNotOptimize(bench_faded);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * texture_texels);
    state.SetBytesProcessed(state.iterations() * texture_texels * 4 * 2);
    bench_report_memcpy_ratio(state);
}
BENCHMARK(BM_FadeTexture);

}  // namespace
