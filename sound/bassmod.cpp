// The sound layer's public calls: device choice, loading, playback state, the audible position
// and delivery of sync marks on the caller's thread.
//
// Who decodes: with a sound device, SDL's audio thread (sound/output.cpp); without one, or
// offline, the caller's own thread, inside the position queries, up to the sample that is due.
// Either way the decoder queues one RowEvent per row it starts, and the position queries take
// from that queue every row that has become due, calling the sync procedures for its marks.
//
// Aiming. A query reports the position heard `lead` from now (sound_set_lead_ns), which can lie
// beyond what the audio thread has decoded. The rows up to there are then foretold from the last
// known row and the patterns (dec_foretell): each row is numbered in play order, its marks are
// delivered the first time it becomes current, foretold or decoded, and its decoded twin later
// only corrects where it starts. Where the patterns leave the next row open, the position waits
// on the last step of the known row until the decoder gets there. A report never goes back.
#include "sound/bassmod.h"

#include <chrono>

#include "sound/audible.h"
#include "sound/decoder.h"
#include "sound/output.h"
#include "sound/row_ring.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int max_syncs = 8;
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
    std::uint64_t audible;  // latest audible frame seen; never decreases while playing
    std::int64_t lead_ns;   // how far ahead of the audible frame the queries aim
    std::uint64_t aimed;    // latest frame aimed at; never decreases while playing
    RowEvent current;       // the row holding `aimed`, decoded or foretold
    bool have_current;
    std::uint32_t delivered;       // rows, counted in play order, whose marks have been delivered
    std::uint64_t reported_key;    // row index × 65536 + step of the latest report, to keep it
    std::uint32_t reported;        // ... from going back, and that report
    Clock::time_point started_at;  // the no-sound device's clock
    PcmSink sink;
    void* sink_user;
    std::int16_t scratch[scratch_frames * 2];  // decoder output when nothing plays it
} snd;

// Resets everything about playback, keeping the device, the module and the registrations.
void reset_playback() {
    snd.started = false;
    snd.audible = 0;
    snd.aimed = 0;
    snd.current = RowEvent{};
    snd.have_current = false;
    snd.delivered = 0;
    snd.reported_key = 0;
    snd.reported = 0;
    ring_reset();
}

// Stops whoever decodes, so that the main thread may change the decoder.
void stop_decoding() {
    if (snd.device == BASSMOD_DEVICE_DEFAULT) out_stop();
}

// Makes `e` the current row unless a later one already is, and delivers its marks, in channel
// order, unless it has had them (a decoded row that was foretold).
void take_row(const RowEvent& e) {
    if (snd.have_current && e.index < snd.current.index) return;
    snd.current = e;
    snd.have_current = true;
    if (e.index < snd.delivered) return;
    snd.delivered = e.index + 1;
    for (std::uint8_t data : dec_marks(e.pattern, e.row)) {
        for (int i = 0; i < snd.sync_count; ++i) {
            snd.syncs[i].proc(static_cast<HSYNC>(i + 1), data, snd.syncs[i].user);
        }
    }
}

// Makes current the last row that starts at or before `frame`, taking decoded rows from the queue
// and, past the last of them if `foretell`, rows foretold by the patterns; every row passed has
// its marks delivered, in play order.
void deliver_up_to(std::uint64_t frame, bool foretell) {
    RowEvent e;
    for (;;) {
        if (ring_peek(e)) {
            if (e.start > frame) return;
            ring_pop();
            take_row(e);
        } else if (foretell && snd.have_current && dec_foretell(snd.current, &e) &&
                   e.start <= frame) {
            take_row(e);
        } else {
            return;
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
        deliver_up_to(frame, false);
    }
}

// Frames of the no-sound clock since playback started.
std::uint64_t nosound_frames() {
    return audible_clock(snd.rate, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       Clock::now() - snd.started_at)
                                       .count());
}

// Brings `audible` up to now, aims `lead` beyond it and delivers every mark that has become due.
void catch_up() {
    std::uint64_t now = snd.audible;
    if (snd.device == BASSMOD_DEVICE_DEFAULT) now = out_audible();
    if (snd.device == BASSMOD_DEVICE_NOSOUND) now = nosound_frames();
    // The model's estimate may step back by a few frames when a callback restamps it; what was
    // once reported stays reported.
    if (now > snd.audible) snd.audible = now;
    if (snd.device != BASSMOD_DEVICE_DEFAULT) decode_up_to(snd.audible);
    // A lead that shrinks does not take the aim back either.
    const std::uint64_t aimed = snd.audible + audible_clock(snd.rate, snd.lead_ns);
    if (aimed > snd.aimed) snd.aimed = aimed;
    deliver_up_to(snd.aimed, true);
}

// The packed position of `aimed` within the current row, never behind an earlier report.
std::uint32_t packed_position() {
    if (!snd.have_current) return 0;
    const RowEvent& cur = snd.current;
    // The row's length: up to the next row if it has been decoded, up to the song's end for the
    // last row, otherwise as long as its speed and tempo make it.
    std::uint64_t len = cur.nominal_len;
    RowEvent next;
    const std::uint64_t end = dec_song_end();
    if (ring_peek(next)) {
        // The queue's head may be the decoded twin of a foretold current row, not its successor.
        if (next.index == cur.index + 1 && next.start > cur.start) len = next.start - cur.start;
    } else if (!cur.foretold && end != dec_end_unknown && end > cur.start) {
        len = end - cur.start;
    }
    const std::uint64_t into = snd.aimed > cur.start ? snd.aimed - cur.start : 0;
    // A foretold row whose length is its own is known to have started, not how far it has got.
    std::uint64_t fraction = len ? into * snd.scaler / len : 0;
    // Past the row's end (after the song, a row longer than its nominal length, or a foretold
    // row not yet followed) the position stays on the row's last step rather than running into
    // the next row's number.
    if (fraction > snd.scaler - 1) fraction = snd.scaler - 1;
    // A decoded row that starts later than foretold would read an earlier step: hold the last.
    const std::uint64_t key = std::uint64_t{cur.index} << 16 | fraction;
    if (key < snd.reported_key) return snd.reported;
    const std::uint32_t high = cur.row * snd.scaler + static_cast<std::uint32_t>(fraction);
    snd.reported_key = key;
    snd.reported = high << 16 | cur.order;
    return snd.reported;
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
    if (mem != BASSMOD_LOAD_MEMORY || file == nullptr || length == 0) return 0;
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
    if (type != BASSMOD_SYNC_MARK || param != BASSMOD_SYNC_MARK_DATA) return 0;
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
    snd.lead_ns = 0;
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

void sound_set_lead_ns(std::int64_t lead_ns) {
    // Past a second a frame is not coming; a negative lead would aim at the past.
    constexpr std::int64_t max_lead = 1000000000;
    snd.lead_ns = lead_ns < 0 ? 0 : lead_ns > max_lead ? max_lead : lead_ns;
}
