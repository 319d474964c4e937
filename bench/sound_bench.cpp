// Decoding speed of the sound layer: the whole song through the offline device, as the capture
// tool and the tests run it, at full quality (0) and as the draft of a capture without sound (1).
// Real time is 137.14 s; the counter reports the multiple of it.
#include <benchmark/benchmark.h>

#include "assets/assets.h"
#include "sound/bassmod.h"
#include "sound/decoder.h"

static void BM_DecodeWholeSong(benchmark::State& state) {
    constexpr std::uint64_t song_frames = 6048000;
    dec_set_draft(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0);
        BASSMOD_MusicLoad(1, module_image, 0, module_length, 0);
        BASSMOD_MusicPlay();
        // Step as a 60 fps capture does, so the per-call overhead is counted too.
        for (std::uint64_t k = 0; sound_offline_advance(k * 735); ++k) {
        }
        BASSMOD_Free();
    }
    dec_set_draft(0);
    state.counters["x_real_time"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * song_frames / 44100.0,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeWholeSong)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
