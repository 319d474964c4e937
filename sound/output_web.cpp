// Web Audio output: a ScriptProcessor on the page's main thread pulls each buffer from the
// decoder, and the audio context's own output clock gives the audible position.
//
// Why a ScriptProcessor: without threads the decoder lives in the main thread's memory, and the
// node's callback runs on that thread, between animation frames; an AudioWorklet would need the
// same buffers posted across and gives nothing more here.
//
// Audible position model. Each callback k hands over `period` frames starting at song frame F_k,
// which the context plays from its time p_k (the event's playbackTime). The context also says
// which of its times leaves the speakers at a given moment (getOutputTimestamp, or currentTime
// less outputLatency/baseLatency where that is missing). With T that time now, the heard frame is
//     audible = F_k + (T - p_k) × rate
// from the latest callback with p_k <= T, capped at F_k + period: nothing beyond what was handed
// over can be heard. The page's clock reads are exact to a render quantum, well under a frame.
#include <emscripten.h>

#include <cstdint>
#include <cstring>

#include "sound/output.h"
#include "sound/tick_stage.h"

namespace {

constexpr std::uint32_t period_frames = 2048;  // per callback: 46 ms at 44100 Hz

static struct {
    bool open;
    bool playing;
    std::uint32_t rate;
    std::int16_t pcm[period_frames * 2];  // one callback's frames, 16-bit stereo
    TickStage stage;                      // whole decoded ticks, handed out a callback at a time
} out;

// The JavaScript below must stay as written (clang-format would split its === and =>).
// clang-format off
// Opens an audio context at `rate` Hz with a stereo ScriptProcessor; 0 where the environment has
// no Web Audio (Node) or refuses the rate.
EM_JS(int, web_out_open, (std::uint32_t rate, std::uint32_t period), {
    const Ctx = (typeof AudioContext !== "undefined") ? AudioContext
              : (typeof webkitAudioContext !== "undefined") ? webkitAudioContext : null;
    if (!Ctx) return 0;
    let ctx;
    try {
        ctx = new Ctx({sampleRate : rate, latencyHint : "interactive"});
    } catch (e) {
        return 0;
    }
    if (ctx.sampleRate !== rate) {
        ctx.close();
        return 0;
    }
    const node = ctx.createScriptProcessor(period, 0, 2);
    const a = {ctx, node, rate, stamps : [], heard : 0};
    node.onaudioprocess = (e) => {
        const frames = e.outputBuffer.length;
        const written = Module._web_out_written();
        const ptr = Module._web_out_fill(frames);
        const pcm = HEAP16.subarray(ptr >> 1, (ptr >> 1) + 2 * frames);
        const left = e.outputBuffer.getChannelData(0);
        const right = e.outputBuffer.getChannelData(1);
        for (let i = 0; i < frames; ++i) {
            left[i] = pcm[2 * i] / 32768;
            right[i] = pcm[2 * i + 1] / 32768;
        }
        if (Module._web_out_playing()) {
            a.stamps.push({frames : written, time : e.playbackTime, count : frames});
            if (a.stamps.length > 16) a.stamps.shift();
        }
    };
    node.connect(ctx.destination);
    Module.vortaAudio = a;
    return 1;
});

EM_JS(void, web_out_close, (), {
    const a = Module.vortaAudio;
    if (!a) return;
    a.node.onaudioprocess = null;
    a.node.disconnect();
    a.ctx.close();
    Module.vortaAudio = null;
});

EM_JS(void, web_out_start, (), {
    const a = Module.vortaAudio;
    a.stamps = [];
    a.heard = 0;
    // Browsers create the context suspended until a user gesture; the page starts the show
    // from its click, so this resume is allowed.
    if (a.ctx.state !== "running") a.ctx.resume();
});

// The song frame heard now, from the latest stamp that has started to play.
EM_JS(double, web_out_audible, (), {
    const a = Module.vortaAudio;
    if (!a || a.stamps.length === 0) return 0;
    let t;
    if (a.ctx.getOutputTimestamp) {
        const ts = a.ctx.getOutputTimestamp();
        t = ts.contextTime + (performance.now() - ts.performanceTime) / 1000;
    }
    if (!(t > 0)) t = a.ctx.currentTime - (a.ctx.outputLatency || a.ctx.baseLatency || 0);
    let s = null;
    for (const x of a.stamps) {
        if (x.time <= t) s = x;
    }
    if (!s) return a.heard;
    const heard = Math.min(s.frames + Math.max(0, (t - s.time) * a.rate), s.frames + s.count);
    // The clocks are read separately: a small step back between two reads is not a rewind.
    a.heard = Math.max(a.heard, Math.floor(heard));
    return a.heard;
});
// clang-format on

}  // namespace

// Called from the page's audio callback: frames handed to the device since out_start.
extern "C" EMSCRIPTEN_KEEPALIVE std::uint32_t web_out_written();
// Called from the page's audio callback: 1 while output is started.
extern "C" EMSCRIPTEN_KEEPALIVE int web_out_playing();
// Called from the page's audio callback: the next `frames` frames (at most one period) as 16-bit
// stereo, silence while stopped and after the song's end. Returns the buffer's address.
extern "C" EMSCRIPTEN_KEEPALIVE const std::int16_t* web_out_fill(std::uint32_t frames);

namespace {
std::uint32_t written_frames;  // frames handed over while playing
}

std::uint32_t web_out_written() {
    return written_frames;
}

int web_out_playing() {
    return out.playing ? 1 : 0;
}

const std::int16_t* web_out_fill(std::uint32_t frames) {
    if (frames > period_frames) frames = period_frames;
    if (!out.playing) {
        std::memset(out.pcm, 0, frames * 4);
        return out.pcm;
    }
    // Silence after the song's end.
    tick_stage_fill(out.stage, out.pcm, frames);
    written_frames += frames;
    return out.pcm;
}

int out_open(std::uint32_t rate) {
    if (out.open) return 0;
    if (!web_out_open(rate, period_frames)) return 0;
    out.open = true;
    out.rate = rate;
    return 1;
}

void out_close() {
    if (out.open) web_out_close();
    out.open = false;
    out.playing = false;
}

void out_start() {
    if (!out.open) return;
    written_frames = 0;
    tick_stage_reset(out.stage);  // the decoder was rewound: nothing decoded is pending
    out.playing = true;
    web_out_start();
}

// The callback runs on this same thread, so once this returns the decoder is not used again.
void out_stop() {
    out.playing = false;
}

std::uint64_t out_audible() {
    if (!out.open || !out.playing) return 0;
    return static_cast<std::uint64_t>(web_out_audible());
}
