// bench_frame [PASSES]: demo_frame over every frame of the whole show at 60 fps on the offline
// sound device, after one untimed warm-up pass. Each timed pass prints the median, 99th
// percentile and worst frame in µs and as multiples of one frame memcpy measured in this
// process, then the medians over the passes. Only demo_frame is timed, not the decoding.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "assets/assets.h"
#include "bench/memcpy_ref.h"
#include "driver/frame.h"
#include "driver/sync.h"
#include "sound/bassmod.h"

namespace {

constexpr int orders = 20;

struct PassTimes {
    std::vector<double> all;               // seconds per frame, in show order
    std::vector<std::uint32_t> position;   // each frame's music position (row << 16 | order)
    std::vector<double> by_order[orders];  // the same, grouped by order
};

// One pass of the show from its start. 0 when the sound layer does not start.
int run_pass(PassTimes& out) {
    if (BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0) != 1) return 0;
    if (BASSMOD_MusicLoad(1, module_image, 0, module_length, 0) != 1) return 0;
    demo_reset();
    BASSMOD_MusicSetSync(3, 1, sync_event_proc, 0);
    BASSMOD_MusicSetPositionScaler(256);
    BASSMOD_MusicPlay();
    out = PassTimes{};
    for (std::uint64_t k = 0;; ++k) {
        if (!sound_offline_advance(k * 44100 / 60) || !BASSMOD_MusicIsActive()) break;
        const std::uint32_t position = BASSMOD_MusicGetPosition();
        const auto start = std::chrono::steady_clock::now();
        demo_frame(position);
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        out.all.push_back(t);
        out.position.push_back(position);
        const int order = static_cast<int>(position & 0xFFFF);
        if (order < orders) out.by_order[order].push_back(t);
    }
    BASSMOD_Free();
    return 1;
}

// The q-quantile (0..1) of `v`, by rank; v is reordered.
double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(i), v.end());
    return v[i];
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::atoi(argv[1]) : 5;
    if (passes < 1 || argc > 2) {
        std::fputs("usage: bench_frame [PASSES]\n", stderr);
        return 2;
    }
    PassTimes pass;
    if (!run_pass(pass)) {  // warm-up: page in the asset block, the caches, the decoder
        std::fputs("bench_frame: the sound layer did not start\n", stderr);
        return 1;
    }
    const double copy = bench_memcpy_seconds();
    std::printf("memcpy of one frame: %.2f us; %zu frames per pass\n", copy * 1e6, pass.all.size());
    std::vector<double> medians, p99s, worsts, order_medians[orders];
    std::vector<std::vector<double>> pass_times;
    for (int p = 0; p < passes; ++p) {
        if (!run_pass(pass)) return 1;
        pass_times.push_back(pass.all);
        medians.push_back(quantile(pass.all, 0.5));
        p99s.push_back(quantile(pass.all, 0.99));
        worsts.push_back(quantile(pass.all, 1.0));
        for (int o = 0; o < orders; ++o)
            order_medians[o].push_back(quantile(pass.by_order[o], 0.5));
        std::printf(
            "pass %d: median %6.1f us (%5.1fx)  p99 %6.1f us (%5.1fx)  worst %6.1f us "
            "(%5.1fx)\n",
            p + 1, medians.back() * 1e6, medians.back() / copy, p99s.back() * 1e6,
            p99s.back() / copy, worsts.back() * 1e6, worsts.back() / copy);
    }
    // Each frame's best time over the passes: a busy machine preempts single frames at random,
    // while a frame that is slow by its own work stays slow in every pass.
    std::vector<double> best(pass.all.size(), 1e9);
    for (const std::vector<double>& times : pass_times) {
        for (std::size_t i = 0; i < best.size() && i < times.size(); ++i)
            best[i] = std::min(best[i], times[i]);
    }
    const double m = quantile(medians, 0.5), p99 = quantile(p99s, 0.5), w = quantile(worsts, 0.5);
    std::printf(
        "median of %d passes: median %.1f us (%.1fx)  p99 %.1f us (%.1fx)  worst %.1f us "
        "(%.1fx)\n",
        passes, m * 1e6, m / copy, p99 * 1e6, p99 / copy, w * 1e6, w / copy);
    const double bm = quantile(best, 0.5), bp99 = quantile(best, 0.99), bw = quantile(best, 1.0);
    std::printf(
        "each frame's best of %d passes: median %.1f us (%.1fx)  p99 %.1f us (%.1fx)  "
        "worst %.1f us (%.1fx)\n",
        passes, bm * 1e6, bm / copy, bp99 * 1e6, bp99 / copy, bw * 1e6, bw / copy);
    // The slowest frames by their best time, with where they stand in the show.
    std::vector<std::size_t> slowest(best.size());
    for (std::size_t i = 0; i < slowest.size(); ++i) slowest[i] = i;
    const std::size_t shown = std::min<std::size_t>(8, slowest.size());
    std::partial_sort(slowest.begin(), slowest.begin() + static_cast<std::ptrdiff_t>(shown),
                      slowest.end(),
                      [&](std::size_t a, std::size_t b) { return best[a] > best[b]; });
    std::printf("slowest frames by their best time:");
    for (std::size_t k = 0; k < shown; ++k) {
        const std::size_t i = slowest[k];
        std::printf("%s #%zu (order %u row %u) %.1f us (%.1fx)", k % 4 ? "," : "\n ", i,
                    pass.position[i] & 0xFFFF, pass.position[i] >> 24, best[i] * 1e6,
                    best[i] / copy);
    }
    std::printf("\n");
    std::printf("per order, median frame:");
    for (int o = 0; o < orders; ++o) {
        const double om = quantile(order_medians[o], 0.5);
        std::printf("%s %d: %.0f us (%.1fx)", o % 5 ? "," : "\n ", o, om * 1e6, om / copy);
    }
    std::printf("\n");
    return 0;
}
