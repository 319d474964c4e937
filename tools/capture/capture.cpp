// vorta-capture: renders the show offline, frame by frame, with the live program's per-frame
// pass, and writes frames, sound, video, a contact sheet or the embedded pictures.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/assets.h"
#include "driver/frame.h"
#include "driver/music_position.h"
#include "driver/show_sound.h"
#include "driver/sync.h"
#include "sound/bassmod.h"
#include "sound/decoder.h"
#include "tools/capture/assets_dump.h"
#include "tools/capture/decode_ahead.h"
#include "tools/capture/frame_math.h"
#include "tools/capture/interrupt.h"
#include "tools/capture/options.h"
#include "tools/capture/png_write.h"
#include "tools/capture/progress.h"
#include "tools/capture/sheet.h"
#include "tools/capture/stage.h"
#include "tools/capture/video.h"
#include "tools/capture/wav_write.h"

namespace {

constexpr int exit_failure = 1, exit_usage = 2;

static struct {
    CaptureOptions opt;
    int wav_slot, video_slot, sheet_slot;  // stage slots of those outputs, -1 when not asked for
    const char* png_folder;  // where this run writes --png frames until they are moved in place
    std::FILE* raw;
    std::FILE* video_wav;  // the video's own WAV when there is no --wav
    WavFile wav;
    bool wav_open;                 // the sound of the range goes to `wav`
    std::atomic<bool> wav_failed;  // a write inside the PCM sink (decoding thread) failed
    bool video_running;            // ffmpeg is taking frames
    std::uint64_t decoded;         // stereo frames the sound layer has handed over so far
    std::uint64_t written;         // frames written so far
    int song_orders;               // orders in the module's order list, for the progress bar
} cap;

// Receives the decoded song in order, on the decoding thread; keeps the samples in [from, to)
// of the range.
void pcm_sink(const std::int16_t* frames, std::uint32_t count, void*) {
    const std::uint64_t first = cap.decoded, end = first + count;
    cap.decoded = end;
    if (!cap.wav_open || cap.wav_failed) return;
    const std::uint64_t lo = first > cap.opt.from_sample ? first : cap.opt.from_sample;
    const std::uint64_t hi = end < cap.opt.to_sample ? end : cap.opt.to_sample;
    if (lo >= hi) return;
    if (!wav_append(&cap.wav, frames + 2 * (lo - first), static_cast<std::uint32_t>(hi - lo))) {
        cap.wav_failed = true;
    }
}

// The number of orders from the module's header (a little-endian 16-bit field at byte 64 of
// an XM), or 0 when it does not look like one.
int module_orders() {
    if (module_length < 66) return 0;
    const int n = module_image[64] | module_image[65] << 8;
    return n > 0 && n <= 256 ? n : 0;
}

double progress_fraction(std::uint64_t sample, std::uint32_t position) {
    // Two lower bounds: the share of the order list played, and of the requested range.
    double done = 0;
    if (cap.song_orders > 0) {
        const MusicPosition at = music_position(position);
        const double row = std::floor(at.row);  // whole rows played in this order
        done = (at.order + (row < 128 ? row : 128) / 128) / cap.song_orders;
    }
    if (cap.opt.to_sample != no_limit) {
        const double part = static_cast<double>(sample) / static_cast<double>(cap.opt.to_sample);
        if (part > done) done = part;
    }
    return done;
}

// Writes one frame of the range to every frame output. 1 on success.
int emit_frame(std::uint64_t sample, std::uint32_t position) {
    const CaptureOptions& o = cap.opt;
    if (cap.raw && std::fwrite(framebuffer, sizeof framebuffer, 1, cap.raw) != 1) {
        std::fprintf(stderr, "vorta-capture: cannot write %s: %s\n", o.raw_path,
                     std::strerror(errno));
        return 0;
    }
    if (cap.png_folder) {
        static char path[4096];
        std::snprintf(path, sizeof path, "%s/frame_%05llu.png", cap.png_folder,
                      static_cast<unsigned long long>(cap.written));
        if (!png_save(path, framebuffer, screen_width, screen_height, screen_width, false)) {
            return 0;
        }
    }
    if (cap.video_running && !video_frame(framebuffer)) return 0;
    if (o.sheet_path) sheet_offer(framebuffer, cap.written, sample, position);
    ++cap.written;
    return 1;
}

// Brings the offline sound layer up the way the live program does. 1 on success.
int start_sound() {
    if (BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, capture_rate, 0) != 1) {
        std::fputs("vorta-capture: the offline sound device did not open\n", stderr);
        return 0;
    }
    if (!show_load()) {
        std::fputs("vorta-capture: the embedded module was rejected\n", stderr);
        return 0;
    }
    demo_reset();
    sound_offline_set_pcm_sink(pcm_sink, nullptr);
    // The sync marks are recorded while decoding ahead and replayed before their frames.
    show_play(nullptr);
    return 1;
}

// Checks every output and gives it its temporary, so that a bad path fails before the first
// frame; starts ffmpeg for --video. 1 on success.
int open_outputs() {
    const CaptureOptions& o = cap.opt;
    cap.wav_slot = cap.video_slot = cap.sheet_slot = -1;
    if (o.raw_path) {
        // Raw frames stream into a pipe or device as they come: a reader may be waiting.
        const int slot = stage_file(o.raw_path, StageMode::stream);
        if (slot < 0 || !(cap.raw = stage_stream(slot))) return 0;
    }
    if (o.wav_path) {
        cap.wav_slot = stage_file(o.wav_path, StageMode::whole);
        if (cap.wav_slot < 0) return 0;
    }
    if (o.sheet_path && (cap.sheet_slot = stage_file(o.sheet_path, StageMode::whole)) < 0) {
        return 0;
    }
    if (o.video_path && (cap.video_slot = stage_file(o.video_path, StageMode::whole)) < 0) {
        return 0;
    }
    if (o.png_dir && !(cap.png_folder = stage_folder(o.png_dir))) return 0;
    if (o.video_path) {
        if (!video_begin(screen_width, screen_height, static_cast<int>(o.scale), o.fps)) return 0;
        cap.video_running = true;
    }
    // The video's sound is the --wav file when there is one, else a WAV of its own.
    std::FILE* wav_file = nullptr;
    if (o.wav_path) {
        wav_file = stage_stream(cap.wav_slot);
    } else if (o.video_path) {
        wav_file = cap.video_wav = std::fopen(video_temp_wav_path(), "wb");
        if (!wav_file) {
            std::fprintf(stderr, "vorta-capture: cannot create %s: %s\n", video_temp_wav_path(),
                         std::strerror(errno));
        }
    }
    if (o.wav_path || o.video_path) {
        if (!wav_file || !wav_begin(&cap.wav, wav_file, o.wav_path ? o.wav_path : "the sound"))
            return 0;
        cap.wav_open = true;
    }
    return 1;
}

// Completes every output of the frame pass: the WAV's header, then the video that takes the
// finished WAV, then the sheet. 1 when all of them are complete.
int finish_outputs() {
    const CaptureOptions& o = cap.opt;
    int ok = 1;
    if (cap.wav_open) ok = wav_finish(&cap.wav);
    if (ok && cap.video_wav) {
        ok = std::fclose(cap.video_wav) == 0;
        cap.video_wav = nullptr;
        if (!ok) std::fprintf(stderr, "vorta-capture: cannot write the sound of the video\n");
    }
    if (ok && cap.video_running) {
        cap.video_running = false;
        ok = video_end(stage_temp_path(cap.video_slot),
                       o.wav_path ? stage_temp_path(cap.wav_slot) : video_temp_wav_path());
    }
    if (ok && o.sheet_path) {
        std::FILE* file = stage_stream(cap.sheet_slot);
        ok = file && sheet_write(file, o.sheet_path);
    }
    return ok;
}

// Stops ffmpeg and closes what the frame pass opened outside the stage.
void abandon_outputs() {
    if (cap.video_running) video_abort();
    cap.video_running = false;
    if (cap.video_wav) std::fclose(cap.video_wav);
    cap.video_wav = nullptr;
}

// Runs the frame pass over the whole song up to the range's end. Returns the exit status.
int capture_frames() {
    const CaptureOptions& o = cap.opt;
    cap.song_orders = module_orders();
    sheet_reset();
    // A capture that writes no sound has nobody to hear it: the decoder renders it cheaply, with
    // the very same rows, marks and positions (a third of the decoding time).
    dec_set_draft(!cap.wav_open);
    int ok = start_sound();
    int status = ok ? 0 : exit_failure;

    progress_begin();
    // One thread decodes the song (and writes its sound) up to a second ahead; this one
    // composes and writes the frames. Frames stop before the range's end and past the song's.
    if (ok && !decode_ahead_start(o.fps, o.to_sample)) ok = 0;
    std::uint64_t s = 0;
    std::uint32_t position = 0;
    while (ok && decode_ahead_next(&s, &position)) {
        // Frames before the range are still composed: flashes, beats and masks carry over.
        demo_frame(position);
        if (s >= o.from_sample) ok = emit_frame(s, position);
        if (cap.wav_failed || interrupt_signal()) ok = 0;
        progress_update(progress_fraction(s, position), static_cast<double>(s) / capture_rate);
    }
    // Complete: the sound of the range has also run on to its end, after the last frame.
    decode_ahead_finish(ok);
    progress_end(ok);
    if (cap.wav_failed) ok = 0;
    if (ok && cap.written == 0) {
        std::fputs("vorta-capture: the range holds no frame: it starts after the song ends\n",
                   stderr);
        ok = 0;
        status = exit_usage;
    }
    BASSMOD_Free();
    if (!ok && status == 0) status = exit_failure;
    return status;
}

const char* signal_name(int sig) {
    return sig == SIGINT    ? "SIGINT"
           : sig == SIGTERM ? "SIGTERM"
           : sig == SIGHUP  ? "SIGHUP"
                            : "a signal";
}

// Checks and opens every output, renders, and puts the outputs in place only if all of them are
// complete. Returns the exit status.
int run() {
    const CaptureOptions& o = cap.opt;
    const bool frames = o.png_dir || o.raw_path || o.wav_path || o.video_path || o.sheet_path;
    const char* assets = nullptr;
    int status = open_outputs() && (!o.assets_dir || (assets = stage_folder(o.assets_dir)))
                     ? 0
                     : exit_failure;
    if (status == 0 && assets && !assets_write(assets)) status = exit_failure;
    if (status == 0 && frames) status = capture_frames();
    // A signal that comes during the final renames finds the outputs complete, and they stay.
    if (status == 0 && (interrupt_signal() || !finish_outputs() || !stage_commit())) {
        status = exit_failure;
    }
    if (status != 0) {
        abandon_outputs();
        stage_discard();
        if (const int sig = interrupt_signal()) {
            std::fprintf(stderr,
                         "vorta-capture: stopped by %s; the outputs were left as they were\n",
                         signal_name(sig));
            status = interrupt_status(sig);
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (!options_parse(argc, argv, &cap.opt)) {
        options_usage(stderr);
        return exit_usage;
    }
    if (cap.opt.help) {
        options_usage(stdout);
        return 0;
    }
    if (cap.opt.version) {
        std::puts("vorta-capture " VORTA_VERSION);
        return 0;
    }
    interrupt_install();
    return run();
}
