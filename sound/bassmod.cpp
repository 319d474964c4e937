// The sound layer's public calls: device choice, loading, playback state, the audible position
// and delivery of sync marks on the caller's thread.
//
// Who decodes: with a sound device, SDL's audio thread (sound/output.cpp); without one, or
// offline, the caller's own thread, inside the position queries, up to the sample that is due.
// Either way the decoder queues one RowEvent per row it starts, and the position queries take
// from that queue every row that has become audible, calling the sync procedures for its marks.
#include "sound/bassmod.h"

#include <chrono>

#include "sound/decoder.h"
#include "sound/output.h"
#include "sound/row_ring.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int max_syncs = 8;
constexpr std::uint32_t sync_type_music_fx = 3;  // SetSync type for effect-command marks
constexpr std::uint32_t sync_param_value = 1;    // ... delivering the effect's parameter
// Longest tick: 2.5 s ÷ 32 BPM at 192 kHz is 15000 frames; longer ticks take several reads.
constexpr std::uint32_t scratch_frames = 16384;

struct SyncSlot {
    SYNCPROC proc;
    std::uint32_t user;
};

static struct {
    int device;  // BASSMOD_DEVICE_* once initialised, 0 before
    std::uint32_t rate;
    bool loaded;
    bool started;
    std::uint32_t scaler;
    SyncSlot syncs[max_syncs];
    int sync_count;
    std::uint64_t audible;  // latest audible frame reported; never decreases while playing
    RowEvent current;       // the row holding `audible`
    bool have_current;
    Clock::time_point started_at;  // the no-sound device's clock
    PcmSink sink;
    void* sink_user;
    std::int16_t scratch[scratch_frames * 2];  // decoder output when nothing plays it
} snd;

// Resets everything about playback, keeping the device, the module and the registrations.
void reset_playback() {
    snd.started = false;
    snd.audible = 0;
    snd.current = RowEvent{};
    snd.have_current = false;
    ring_reset();
}

// Stops whoever decodes, so that the main thread may change the decoder.
void stop_decoding() {
    if (snd.device == BASSMOD_DEVICE_DEFAULT) out_stop();
}

// Takes every row that starts at or before `frame` from the queue and delivers its marks, in
// play order and channel order.
void deliver_up_to(std::uint64_t frame) {
    RowEvent e;
    while (ring_peek(e) && e.start <= frame) {
        ring_pop();
        snd.current = e;
        snd.have_current = true;
        for (std::uint8_t data : dec_marks(e.pattern, e.row)) {
            for (int i = 0; i < snd.sync_count; ++i) {
                snd.syncs[i].proc(static_cast<HSYNC>(i + 1), data, snd.syncs[i].user);
            }
        }
    }
}

// Without an audio thread: decodes on this thread until the row holding `frame` is complete
// (a later row has started, or the song has ended), delivering marks tick by tick so that the
// queue never fills however far `frame` lies ahead.
void decode_up_to(std::uint64_t frame) {
    while (dec_song_end() == dec_end_unknown && dec_last_row_start() <= frame) {
        const std::uint32_t n = dec_step(snd.scratch, scratch_frames);
        if (n && snd.sink && snd.device == BASSMOD_DEVICE_OFFLINE) {
            snd.sink(snd.scratch, n, snd.sink_user);
        }
        deliver_up_to(frame);
    }
}

// Frames of the no-sound clock since playback started.
std::uint64_t nosound_frames() {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - snd.started_at).count();
    if (ns <= 0) return 0;
    // Whole seconds and the rest apart, so that a long run cannot overflow the product.
    const std::uint64_t s = static_cast<std::uint64_t>(ns) / 1000000000u;
    const std::uint64_t rest = static_cast<std::uint64_t>(ns) % 1000000000u;
    return s * snd.rate + rest * snd.rate / 1000000000u;
}

// Brings `audible` up to now and delivers every mark that has become due.
void catch_up() {
    std::uint64_t now = snd.audible;
    if (snd.device == BASSMOD_DEVICE_DEFAULT) now = out_audible();
    if (snd.device == BASSMOD_DEVICE_NOSOUND) now = nosound_frames();
    // The model's estimate may step back by a few frames when a callback restamps it; what was
    // once reported stays reported.
    if (now > snd.audible) snd.audible = now;
    if (snd.device != BASSMOD_DEVICE_DEFAULT) decode_up_to(snd.audible);
    deliver_up_to(snd.audible);
}

// The packed position of `audible` within the current row.
std::uint32_t packed_position() {
    if (!snd.have_current) return 0;
    const RowEvent& cur = snd.current;
    // The row's length: up to the next row if it has been decoded, up to the song's end for the
    // last row, otherwise as long as its speed and tempo make it.
    std::uint64_t len = cur.nominal_len;
    RowEvent next;
    const std::uint64_t end = dec_song_end();
    if (ring_peek(next)) {
        len = next.start - cur.start;
    } else if (end != dec_end_unknown && end > cur.start) {
        len = end - cur.start;
    }
    if (len == 0) len = 1;
    std::uint64_t fraction = (snd.audible - cur.start) * snd.scaler / len;
    // Past the row's end (after the song, or a row longer than its nominal length) the position
    // stays on the row's last step rather than running into the next row's number.
    if (fraction > snd.scaler - 1) fraction = snd.scaler - 1;
    const std::uint32_t high = cur.row * snd.scaler + static_cast<std::uint32_t>(fraction);
    return high << 16 | cur.order;
}

}  // namespace

int BASSMOD_Init(int device, std::uint32_t freq, std::uint32_t) {
    if (snd.device != 0) return 0;  // already initialised: Free first
    // libopenmpt mixes from 8 kHz to 192 kHz.
    if (freq < 8000 || freq > 192000) return 0;
    if (device == BASSMOD_DEVICE_DEFAULT) {
        if (!out_open(freq)) return 0;
    } else if (device != BASSMOD_DEVICE_NOSOUND && device != BASSMOD_DEVICE_OFFLINE) {
        return 0;
    }
    snd.device = device;
    snd.rate = freq;
    snd.scaler = 1;
    return 1;
}

int BASSMOD_MusicLoad(int mem, const void* file, std::uint32_t offset, std::uint32_t length,
                      std::uint32_t) {
    if (snd.device == 0) return 0;
    // Only loading from memory, and only with a length: without one the end of the module is
    // unknown and the loader could read past it.
    if (mem != 1 || file == nullptr || length == 0) return 0;
    stop_decoding();
    reset_playback();
    snd.loaded = false;
    snd.sync_count = 0;  // syncs belong to the module they were set on
    if (!dec_load(static_cast<const std::uint8_t*>(file) + offset, length, snd.rate)) return 0;
    snd.loaded = true;
    return 1;
}

HSYNC BASSMOD_MusicSetSync(std::uint32_t type, std::uint32_t param, SYNCPROC proc,
                           std::uint32_t user) {
    if (!snd.loaded || proc == nullptr || snd.sync_count == max_syncs) return 0;
    if (type != sync_type_music_fx || param != sync_param_value) return 0;
    snd.syncs[snd.sync_count] = SyncSlot{proc, user};
    return static_cast<HSYNC>(++snd.sync_count);
}

int BASSMOD_MusicSetPositionScaler(std::uint32_t scale) {
    // Up to 256 steps per row: 255 rows × 256 + 255 is the most that fits in 16 bits.
    if (!snd.loaded || scale == 0 || scale > 256) return 0;
    snd.scaler = scale;
    return 1;
}

int BASSMOD_MusicPlay() {
    if (!snd.loaded) return 0;
    stop_decoding();
    reset_playback();
    dec_rewind();
    snd.started = true;
    snd.started_at = Clock::now();
    if (snd.device == BASSMOD_DEVICE_DEFAULT) out_start();
    return 1;
}

int BASSMOD_MusicIsActive() {
    if (!snd.started) return 0;
    catch_up();
    const std::uint64_t end = dec_song_end();
    return end == dec_end_unknown || snd.audible < end;
}

std::uint32_t BASSMOD_MusicGetPosition() {
    if (!snd.started) return 0;
    catch_up();
    return packed_position();
}

void BASSMOD_Free() {
    if (snd.device == BASSMOD_DEVICE_DEFAULT) out_close();
    dec_unload();
    reset_playback();
    snd.device = 0;
    snd.loaded = false;
    snd.sync_count = 0;
    snd.sink = nullptr;
    snd.sink_user = nullptr;
}

int sound_offline_advance(std::uint64_t sample) {
    if (snd.device != BASSMOD_DEVICE_OFFLINE || !snd.loaded) return 0;
    if (!snd.started) BASSMOD_MusicPlay();
    if (sample > snd.audible) snd.audible = sample;
    catch_up();
    const std::uint64_t end = dec_song_end();
    return end == dec_end_unknown || sample < end;
}

void sound_offline_set_pcm_sink(PcmSink sink, void* user) {
    snd.sink = sink;
    snd.sink_user = user;
}
