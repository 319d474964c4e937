// vorta-capture: renders the show offline, frame by frame, with the live program's per-frame
// pass, and writes frames, sound, video, a contact sheet or the embedded pictures.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/assets.h"
#include "driver/frame.h"
#include "driver/sync.h"
#include "sound/bassmod.h"
#include "tools/capture/assets_dump.h"
#include "tools/capture/frame_math.h"
#include "tools/capture/options.h"
#include "tools/capture/outdir.h"
#include "tools/capture/png_write.h"
#include "tools/capture/progress.h"
#include "tools/capture/sheet.h"
#include "tools/capture/video.h"
#include "tools/capture/wav_write.h"

namespace {

constexpr int exit_failure = 1, exit_usage = 2;

static struct {
    CaptureOptions opt;
    std::FILE* raw;
    WavFile wav;
    bool wav_open;          // the sound of the range goes to `wav`
    bool wav_failed;        // a write inside the PCM sink failed
    bool video_running;     // ffmpeg is taking frames
    std::uint64_t decoded;  // stereo frames the sound layer has handed over so far
    std::uint64_t written;  // frames written so far
    int song_orders;        // orders in the module's order list, for the progress bar
} cap;

// Receives the decoded song in order; keeps the samples in [from, to) of the range.
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
        const double row = static_cast<double>(position >> 24);
        done = ((position & 0xFFFF) + (row < 128 ? row : 128) / 128) / cap.song_orders;
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
    if (o.png_dir) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%05llu.png",
                      static_cast<unsigned long long>(cap.written));
        const std::string path = std::string(o.png_dir) + name;
        if (!png_write_rgb(path.c_str(), framebuffer, screen_width, screen_height, screen_width)) {
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
    if (BASSMOD_MusicLoad(1, module_image, 0, module_length, 0) != 1) {
        std::fputs("vorta-capture: the embedded module was rejected\n", stderr);
        return 0;
    }
    demo_reset();
    BASSMOD_MusicSetSync(3, 1, sync_event_proc, 0);
    BASSMOD_MusicSetPositionScaler(256);
    sound_offline_set_pcm_sink(pcm_sink, nullptr);
    BASSMOD_MusicPlay();
    return 1;
}

// Opens every output of the frame pass. 1 on success.
int open_outputs() {
    const CaptureOptions& o = cap.opt;
    if (o.png_dir && !outdir_make(o.png_dir)) return 0;
    if (o.raw_path) {
        cap.raw = std::fopen(o.raw_path, "wb");
        if (!cap.raw) {
            std::fprintf(stderr, "vorta-capture: cannot create %s: %s\n", o.raw_path,
                         std::strerror(errno));
            return 0;
        }
    }
    if (o.video_path) {
        if (!video_begin(screen_width, screen_height, static_cast<int>(o.scale), o.fps)) return 0;
        cap.video_running = true;
    }
    // The video's sound is the --wav file when there is one, else a temporary WAV.
    const char* wav_path = o.wav_path ? o.wav_path : o.video_path ? video_temp_wav_path() : nullptr;
    if (wav_path) {
        if (!wav_open(&cap.wav, wav_path)) return 0;
        cap.wav_open = true;
    }
    return 1;
}

// Closes every output, in the order that lets the video take the finished WAV. 1 when all
// of them are complete.
int close_outputs(int ok) {
    const CaptureOptions& o = cap.opt;
    if (cap.raw) {
        if (std::fclose(cap.raw) != 0 && ok) {
            std::fprintf(stderr, "vorta-capture: cannot write %s: %s\n", o.raw_path,
                         std::strerror(errno));
            ok = 0;
        }
        cap.raw = nullptr;
    }
    if (cap.wav_open) {
        ok = wav_close(&cap.wav) && ok;
        cap.wav_open = false;
    }
    if (cap.video_running) {
        if (ok) {
            ok = video_end(o.video_path, o.wav_path ? o.wav_path : video_temp_wav_path());
        } else {
            video_abort();
        }
        cap.video_running = false;
    }
    if (ok && o.sheet_path) ok = sheet_write(o.sheet_path);
    return ok;
}

// Runs the frame pass over the whole song up to the range's end. Returns the exit status.
int capture_frames() {
    const CaptureOptions& o = cap.opt;
    cap.song_orders = module_orders();
    sheet_reset();
    int ok = open_outputs() && start_sound();
    int status = ok ? 0 : exit_failure;

    progress_begin();
    std::uint64_t k = 0;
    for (; ok; ++k) {
        const std::uint64_t s = frame_sample(k, o.fps);
        if (s >= o.to_sample) break;
        // Past the song's end there is no frame k: the previous one was the last.
        if (!sound_offline_advance(s)) break;
        const std::uint32_t position = BASSMOD_MusicGetPosition();
        // Frames before the range are still composed: flashes, beats and masks carry over.
        demo_frame(position);
        if (s >= o.from_sample) ok = emit_frame(s, position);
        if (cap.wav_failed) ok = 0;
        progress_update(progress_fraction(s, position), static_cast<double>(s) / capture_rate);
    }
    progress_end(ok);
    if (ok) {
        // The sound of the range runs on to its end, after the last frame's sample.
        if (o.to_sample != no_limit) sound_offline_advance(o.to_sample);
        if (cap.wav_failed) ok = 0;
    }
    if (ok && cap.written == 0) {
        std::fputs("vorta-capture: the range holds no frame: it starts after the song ends\n",
                   stderr);
        ok = 0;
        status = exit_usage;
    }
    ok = close_outputs(ok);
    BASSMOD_Free();
    if (!ok && status == 0) status = exit_failure;
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
    if (cap.opt.assets_dir && !assets_write(cap.opt.assets_dir)) return exit_failure;
    const CaptureOptions& o = cap.opt;
    if (!o.png_dir && !o.raw_path && !o.wav_path && !o.video_path && !o.sheet_path) return 0;
    return capture_frames();
}
