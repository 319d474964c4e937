// Windows audio output through waveOut: a feeder thread decodes into whichever of a few short
// buffers the device has handed back, and the device's own played-sample count is the audible
// position.
//
// Buffers: eight of 512 frames (11.6 ms each at 44100 Hz), 4096 frames or 93 ms in all; the
// feeder wakes on the device's event as soon as one comes back, at the highest thread priority
// as audio feeders run. Wine (like the system mixer) hands a buffer back only once it has been
// played, and a device that runs dry plays silence in the middle of the song: measured under
// Wine on a PulseAudio-backed ALSA device on a loaded machine, 704 frames in all kept the device
// starved, 2048 frames still let it run dry a few times a minute. The latency this adds does not
// move the picture away from the sound: the position below is the device's own.
// Position: waveOutGetPosition with TIME_SAMPLES counts the frames the device has played since
// the last reset (Wine answers from the sound system's played position: written minus the
// device's delay), so the picture follows what is heard rather than what was written. The count
// is 32 bits wide; it is widened to 64 bits by taking each reading as the smallest step forward
// from the last one.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <atomic>
#include <thread>

#include "sound/output.h"
#include "sound/tick_stage.h"

namespace {

constexpr int buffer_count = 8;
constexpr std::uint32_t buffer_frames = 512;

static struct {
    HWAVEOUT device;
    HANDLE done_event;  // signalled by the device whenever it hands a buffer back
    std::uint32_t rate;
    std::thread feeder;
    std::atomic<bool> stopping{false};
    // Frames written to the device since out_start; feeder thread only while it runs.
    std::uint64_t written;
    // Played-frame count widened to 64 bits: the highest reading so far. Any thread.
    std::atomic<std::uint64_t> played{0};
    std::atomic<bool> started{false};
    WAVEHDR headers[buffer_count];
    std::int16_t pcm[buffer_count][buffer_frames * 2];
    // Decoded ticks waiting to be copied into device buffers; feeder thread only.
    TickStage stage;
} out;

// Writes every buffer the device does not hold, refilled, until told to stop.
void feed() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (!out.stopping.load(std::memory_order_acquire)) {
        for (WAVEHDR& h : out.headers) {
            // Still queued: the device clears the flag when it hands the buffer back.
            if (h.dwFlags & WHDR_INQUEUE) continue;
            // Silence once the song has ended: the device plays on and its position moves on.
            tick_stage_fill(out.stage, reinterpret_cast<std::int16_t*>(h.lpData), buffer_frames);
            h.dwFlags &= ~WHDR_DONE;
            waveOutWrite(out.device, &h, sizeof h);
            out.written += buffer_frames;
        }
        WaitForSingleObject(out.done_event, INFINITE);
    }
}

// The device's played-frame count now, 0 when it cannot say.
std::uint32_t device_position() {
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    if (waveOutGetPosition(out.device, &t, sizeof t) != MMSYSERR_NOERROR) return 0;
    // A device that cannot count samples answers in another unit of its choice.
    if (t.wType == TIME_SAMPLES) return t.u.sample;
    if (t.wType == TIME_BYTES) return t.u.cb / 4;  // 16-bit stereo
    return 0;
}

}  // namespace

int out_open(std::uint32_t rate) {
    if (waveOutGetNumDevs() == 0) return 0;
    out.done_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!out.done_event) return 0;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = rate * 4;
    if (waveOutOpen(&out.device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(out.done_event),
                    0, CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        out.device = nullptr;
        out_close();
        return 0;
    }
    for (int i = 0; i < buffer_count; i++) {
        WAVEHDR& h = out.headers[i];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(out.pcm[i]);
        h.dwBufferLength = sizeof out.pcm[i];
        if (waveOutPrepareHeader(out.device, &h, sizeof h) != MMSYSERR_NOERROR) {
            out_close();
            return 0;
        }
    }
    out.rate = rate;
    return 1;
}

void out_close() {
    out_stop();
    if (out.device) {
        for (WAVEHDR& h : out.headers) {
            if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(out.device, &h, sizeof h);
        }
        waveOutClose(out.device);
    }
    out.device = nullptr;
    if (out.done_event) CloseHandle(out.done_event);
    out.done_event = nullptr;
}

void out_start() {
    if (!out.device || out.feeder.joinable()) return;
    // A reset device counts from 0 again: the first frame the feeder writes is frame 0.
    waveOutReset(out.device);
    out.played.store(0, std::memory_order_relaxed);
    out.written = 0;
    tick_stage_reset(out.stage);  // the decoder was rewound: nothing decoded is pending
    out.stopping.store(false, std::memory_order_relaxed);
    out.started.store(true, std::memory_order_release);
    out.feeder = std::thread(feed);
}

void out_stop() {
    if (!out.feeder.joinable()) return;
    out.stopping.store(true, std::memory_order_release);
    SetEvent(out.done_event);
    out.feeder.join();
    // Hands every queued buffer back and stops the device; nothing decodes from here on.
    waveOutReset(out.device);
    out.started.store(false, std::memory_order_relaxed);
}

std::uint64_t out_audible() {
    if (!out.started.load(std::memory_order_acquire)) return 0;
    const std::uint32_t now = device_position();
    std::uint64_t last = out.played.load(std::memory_order_relaxed);
    for (;;) {
        // The reading's step forward from the last one, modulo 2^32; a small step back (two
        // threads reading at once) is no step.
        const std::uint32_t step = now - static_cast<std::uint32_t>(last);
        if (step >= 0x80000000u) return last;
        const std::uint64_t next = last + step;
        if (out.played.compare_exchange_weak(last, next, std::memory_order_relaxed)) return next;
    }
}
