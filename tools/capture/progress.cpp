// Progress bar: fraction done, music time rendered and the speed against real time.
#include "tools/capture/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

static struct {
    bool shown;  // stderr is a terminal
    Clock::time_point start, last;
    double fraction, music_seconds;
} progress;

void draw() {
    constexpr int width = 30;
    const double elapsed = std::chrono::duration<double>(Clock::now() - progress.start).count();
    const int filled = static_cast<int>(progress.fraction * width);
    char bar[width + 1];
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[width] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%  %7.2f s of music  %5.2fx real time ", bar,
                 static_cast<int>(progress.fraction * 100), progress.music_seconds,
                 elapsed > 0 ? progress.music_seconds / elapsed : 0.0);
    std::fflush(stderr);
}

}  // namespace

void progress_begin() {
    progress.shown = isatty(STDERR_FILENO) == 1;
    progress.start = progress.last = Clock::now();
    progress.fraction = progress.music_seconds = 0;
}

void progress_update(double fraction, double music_seconds) {
    if (!progress.shown) return;
    progress.fraction = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
    progress.music_seconds = music_seconds;
    const Clock::time_point now = Clock::now();
    if (now - progress.last < std::chrono::milliseconds(100)) return;
    progress.last = now;
    draw();
}

void progress_end(bool finished) {
    if (!progress.shown) return;
    if (finished) {
        progress.fraction = 1;
        draw();
    }
    std::fputc('\n', stderr);
}
