// Decoding ahead: a bounded ring of decoded frames between the decoding thread and the frames.
#include "tools/capture/decode_ahead.h"

#include <condition_variable>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>

#include "driver/sync.h"
#include "sound/bassmod.h"
#include "tools/capture/frame_math.h"
#include "tools/capture/options.h"

namespace {

// One entry of the ring: the marks delivered since the previous entry and, unless the marks
// overflowed the entry, the frame that follows them.
struct Entry {
    std::uint64_t sample;
    std::uint32_t position;
    bool frame;  // false: marks only, the frame comes in a later entry
    int marks;
    std::uint32_t mark[32];
};

constexpr int ring_size = 64;  // frames decoded ahead at most, about a second at 60 fps

static struct {
    std::thread thread;
    std::mutex lock;
    std::condition_variable changed;
    Entry ring[ring_size];
    int head, count;  // oldest entry, entries waiting (guarded by lock)
    bool done;        // the decoding thread has handed over its last entry (guarded by lock)
    bool stop;        // the frames want no more (guarded by lock)
    Entry filling;    // the entry being filled (decoding thread only)
    std::uint32_t fps;
    std::uint64_t to_sample;
} ahead;

// Hands `filling` to the ring; false when asked to stop. A full ring is waited on until half of
// it is free, so that the two threads wake each other once per half ring, not once per frame
// (each wake-up is a system call, and decoding runs far ahead of the frames).
bool push() {
    std::unique_lock<std::mutex> hold(ahead.lock);
    if (ahead.count == ring_size) {
        ahead.changed.wait(hold, [] { return ahead.count <= ring_size / 2 || ahead.stop; });
    }
    if (ahead.stop) return false;
    ahead.ring[(ahead.head + ahead.count) % ring_size] = ahead.filling;
    // Only an empty ring can have the frames waiting.
    if (++ahead.count == 1) ahead.changed.notify_all();
    ahead.filling.marks = 0;
    return true;
}

// The sync procedure while decoding ahead: records the mark for the frame being decoded. A
// frame with more marks than an entry holds (possible only at low frame rates) passes them in
// entries of marks alone.
void record_mark(HSYNC, std::uint32_t data, std::uint32_t) {
    Entry& e = ahead.filling;
    if (e.marks == static_cast<int>(std::size(e.mark))) {
        e.frame = false;
        if (!push()) return;  // stopping: the marks no longer matter
    }
    e.mark[e.marks++] = data;
}

void decode() {
    for (std::uint64_t k = 0;; ++k) {
        const std::uint64_t s = frame_sample(k, ahead.fps);
        if (s >= ahead.to_sample) break;
        if (!sound_offline_advance(s)) break;
        const std::uint32_t position = BASSMOD_MusicGetPosition();
        ahead.filling.sample = s;
        ahead.filling.position = position;
        ahead.filling.frame = true;
        if (!push()) break;
    }
    bool stopped;
    {
        std::lock_guard<std::mutex> hold(ahead.lock);
        stopped = ahead.stop;
    }
    // The sound of the range runs on to its end, after the last frame's sample.
    if (!stopped && ahead.to_sample != no_limit) sound_offline_advance(ahead.to_sample);
    std::lock_guard<std::mutex> hold(ahead.lock);
    ahead.done = true;
    ahead.changed.notify_all();
}

}  // namespace

int decode_ahead_start(std::uint32_t fps, std::uint64_t to_sample) {
    ahead.head = ahead.count = 0;
    ahead.done = ahead.stop = false;
    ahead.filling = Entry{};
    ahead.fps = fps;
    ahead.to_sample = to_sample;
    BASSMOD_MusicSetSync(BASSMOD_SYNC_MARK, BASSMOD_SYNC_MARK_DATA, record_mark, 0);
    try {
        ahead.thread = std::thread(decode);
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "vorta-capture: cannot start the decoding thread: %s\n", e.what());
        return 0;
    }
    return 1;
}

int decode_ahead_next(std::uint64_t* sample, std::uint32_t* position) {
    for (;;) {
        Entry e;
        {
            std::unique_lock<std::mutex> hold(ahead.lock);
            ahead.changed.wait(hold, [] { return ahead.count > 0 || ahead.done; });
            if (ahead.count == 0) return 0;
            e = ahead.ring[ahead.head];
            ahead.head = (ahead.head + 1) % ring_size;
            // The decoding thread waits for half a ring only after finding it full, so the
            // count passes this value on its way down after it began to wait.
            if (--ahead.count == ring_size / 2) ahead.changed.notify_all();
        }
        for (int i = 0; i < e.marks; ++i) sync_event_proc(0, e.mark[i], 0);
        if (e.frame) {
            *sample = e.sample;
            *position = e.position;
            return 1;
        }
    }
}

void decode_ahead_finish(int complete) {
    if (!ahead.thread.joinable()) return;
    if (!complete) {
        std::lock_guard<std::mutex> hold(ahead.lock);
        ahead.stop = true;
        ahead.changed.notify_all();
    }
    ahead.thread.join();
}
