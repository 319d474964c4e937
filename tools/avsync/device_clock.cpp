// Watching the disk device's file: inotify wakes a thread on every write to it, which stamps the
// new size.
//
// Which frame plays when. The driver writes one buffer of `period` frames per period through
// stdio, whose buffer holds more than one of them: the file then grows by several buffers at
// once, at the moment the driver writes the buffer after them, so right after a growth the
// device is handing over the buffer that starts at the new size. If the file grows by a single
// buffer at a time, the writes are unbuffered and the new size already includes the buffer being
// handed over. Each buffer counts as playing from the moment it is handed over, at the pace the
// growths show; positions between two growths are interpolated.
#include "tools/avsync/device_clock.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/avsync/xgrab.h"

namespace {

struct Growth {
    std::int64_t ns;
    std::int64_t bytes;  // the file's size after it
};

static struct {
    std::thread watcher;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<Growth> growths;
    std::uint32_t period;
    int fd = -1;
    const char* path;
    std::uint64_t first_sound;
    std::int64_t scanned = 0;  // bytes of the file looked at for the song's first sound
    std::atomic<double> offset{-1};
    std::atomic<bool> prompt{false};  // the watcher runs at real-time priority
} dc;

// Reads what the file has gained and looks for the first frame that is not silent.
void find_song_start(std::int64_t size) {
    std::FILE* f = std::fopen(dc.path, "rb");
    if (!f) return;
    std::fseek(f, static_cast<long>(dc.scanned), SEEK_SET);
    std::int16_t frame[2];
    while (dc.scanned + 4 <= size && std::fread(frame, 4, 1, f) == 1) {
        if (frame[0] || frame[1]) {
            dc.offset = dc.scanned / 4.0 - double(dc.first_sound);
            break;
        }
        dc.scanned += 4;
    }
    std::fclose(f);
}

void watch() {
    // A growth stamped late would read as a device running late. The thread wakes once per
    // growth only, so running it first costs the program nothing.
    const bool prompt = xgrab_prompt_thread();
    dc.prompt = prompt;
    char buf[4096];
    std::int64_t last = 0;
    while (!dc.stop.load()) {
        pollfd p{dc.fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const std::int64_t t = xgrab_now_ns();
        if (read(dc.fd, buf, sizeof buf) <= 0) continue;
        struct stat st;
        if (stat(dc.path, &st) != 0 || st.st_size == last) continue;
        last = st.st_size;
        if (dc.offset < 0) find_song_start(st.st_size);
        std::lock_guard<std::mutex> hold(dc.lock);
        dc.growths.push_back({t, st.st_size});
    }
}

// Frames of the buffer being handed over right after a growth to `bytes`.
double frame_after(std::int64_t bytes, std::int64_t step) {
    const double frames = bytes / 4.0;
    return step > 4 * std::int64_t{dc.period} ? frames : frames - dc.period;
}

std::int64_t median_step(const std::vector<Growth>& g) {
    std::vector<std::int64_t> steps;
    for (std::size_t i = 1; i < g.size(); ++i) steps.push_back(g[i].bytes - g[i - 1].bytes);
    if (steps.empty()) return 0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

}  // namespace

int devclock_start(const char* path, std::uint32_t period_frames, std::uint64_t first_sound) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 0;
    std::fclose(f);
    dc.fd = inotify_init1(IN_CLOEXEC);
    if (dc.fd < 0 || inotify_add_watch(dc.fd, path, IN_MODIFY) < 0) return 0;
    dc.path = path;
    dc.period = period_frames;
    dc.first_sound = first_sound;
    dc.scanned = 0;
    dc.offset = -1;
    dc.stop = false;
    dc.growths.clear();
    dc.watcher = std::thread(watch);
    return 1;
}

void devclock_stop() {
    if (!dc.watcher.joinable()) return;
    dc.stop = true;
    dc.watcher.join();
    close(dc.fd);
    dc.fd = -1;
}

double devclock_song_offset() {
    return dc.offset;
}

namespace {

// The file frame the device plays at `ns`, or -1.
double file_frame_at(std::int64_t ns) {
    std::lock_guard<std::mutex> hold(dc.lock);
    const auto& g = dc.growths;
    if (g.size() < 2) return -1;
    const std::int64_t step = median_step(g);
    // The last growth at or before `ns`.
    auto it = std::upper_bound(g.begin(), g.end(), ns,
                               [](std::int64_t t, const Growth& x) { return t < x.ns; });
    if (it == g.begin()) return -1;
    const Growth& a = *(it - 1);
    const double at = frame_after(a.bytes, step);
    if (it == g.end()) {
        // After the last growth: the nominal rate, up to the next growth's worth.
        const double ahead = (ns - a.ns) * 44100e-9;
        return at + std::min(ahead, step / 4.0);
    }
    const Growth& b = *it;
    const double to = frame_after(b.bytes, step);
    return at + (to - at) * double(ns - a.ns) / double(b.ns - a.ns);
}

}  // namespace

double devclock_frame_at(std::int64_t ns) {
    const double offset = dc.offset;
    const double f = offset < 0 ? -1 : file_frame_at(ns);
    return f < 0 ? -1 : f - offset;
}

double devclock_time_of(double song_frame) {
    if (dc.offset < 0) return -1;
    const double frame = song_frame + dc.offset;
    std::lock_guard<std::mutex> hold(dc.lock);
    const auto& g = dc.growths;
    const std::int64_t step = median_step(g);
    for (std::size_t i = 1; i < g.size(); ++i) {
        const double at = frame_after(g[i - 1].bytes, step), to = frame_after(g[i].bytes, step);
        if (frame >= at && frame < to) {
            return g[i - 1].ns + (frame - at) / (to - at) * double(g[i].ns - g[i - 1].ns);
        }
    }
    return -1;
}

int devclock_prompt() {
    return dc.prompt;
}

void devclock_growth(int* count, std::int64_t* step_bytes, double* interval_ms) {
    std::lock_guard<std::mutex> hold(dc.lock);
    const auto& g = dc.growths;
    *count = static_cast<int>(g.size());
    *step_bytes = median_step(g);
    *interval_ms = g.size() > 1 ? (g.back().ns - g.front().ns) / 1e6 / double(g.size() - 1) : 0;
}
