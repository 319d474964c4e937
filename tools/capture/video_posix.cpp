// ffmpeg as a child process: raw frames through a pipe, then a second run that adds the sound.
// POSIX only (posix_spawnp, pipes, waitpid): the one platform-bound file of the capture tool.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/capture/interrupt.h"
#include "tools/capture/video.h"
#include "tools/capture/yuv.h"

extern char** environ;

namespace {

constexpr int max_scale = 8;

// x264's settings, measured on this content (big flat pixels over a moving texture) for speed
// against fidelity: the fastest preset keeps the pixels' edges better than slower ones at the
// same rate factor, as it skips the deblocking filter that smooths them; zero-latency slices a
// frame across the threads instead of queueing frames, which is faster again with two cores.
// Rate factor 20 stays above 40 dB of luma PSNR against the exact upscale.
constexpr const char* video_preset = "ultrafast";
constexpr const char* video_tune = "zerolatency";
constexpr const char* video_crf = "20";

static struct {
    pid_t encoder = 0;            // the first ffmpeg, reading frames; 0 when none runs
    int pipe_fd = -1;             // its stdin; -1 when closed
    int w = 0, h = 0, scale = 0;  // source size and upscale factor
    char dir[4096] = {};          // temporary folder of the video stream and the sound
    std::string video_tmp;        // the encoded stream without sound
    std::string wav_tmp;          // a WAV for the mux when no --wav is written
} video;

// One upscaled frame, planar. Kept apart from `video` so that it stays in untouched zero pages
// until the first frame is sent.
static std::uint8_t scaled[yuv_frame_bytes(320, 240, max_scale)];

// Runs argv as a child with stdin from `stdin_fd` (-1: /dev/null). Returns its pid, or 0.
pid_t spawn(const char* const* argv, int stdin_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdin_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdin_fd, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    pid_t pid = 0;
    const int err =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) {
        if (err == ENOENT) {
            std::fputs(
                "vorta-capture: ffmpeg was not found on PATH; --video needs it "
                "(Debian package ffmpeg)\n",
                stderr);
        } else {
            std::fprintf(stderr, "vorta-capture: cannot start ffmpeg: %s\n", std::strerror(err));
        }
        return 0;
    }
    return pid;
}

// Waits for a child; 1 when it exited with status 0. A stop signal ends the child and the wait.
int reap(pid_t pid, const char* what) {
    int status = 0;
    bool stopped = false;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno == EINTR && interrupt_signal() && !stopped) {
            kill(pid, SIGTERM);
            stopped = true;
        } else if (errno != EINTR) {
            std::fprintf(stderr, "vorta-capture: lost ffmpeg (%s): %s\n", what,
                         std::strerror(errno));
            return 0;
        }
    }
    if (stopped || interrupt_signal()) return 0;  // the reason is reported once, by the caller
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 1;
    if (WIFEXITED(status)) {
        std::fprintf(stderr, "vorta-capture: ffmpeg failed while %s (exit status %d)\n", what,
                     WEXITSTATUS(status));
    } else {
        std::fprintf(stderr, "vorta-capture: ffmpeg died while %s (signal %d)\n", what,
                     WTERMSIG(status));
    }
    return 0;
}

void close_pipe() {
    if (video.pipe_fd >= 0) close(video.pipe_fd);
    video.pipe_fd = -1;
}

void remove_temporaries() {
    if (video.dir[0] == '\0') return;
    unlink(video.video_tmp.c_str());
    unlink(video.wav_tmp.c_str());
    rmdir(video.dir);
    video.dir[0] = '\0';
}

}  // namespace

int video_begin(int w, int h, int scale, std::uint32_t fps) {
    if (scale < 1 || scale > max_scale || w > 320 || h > 240) return 0;
    video.w = w;
    video.h = h;
    video.scale = scale;

    const char* tmp = std::getenv("TMPDIR");
    std::snprintf(video.dir, sizeof video.dir, "%s/vorta-capture-XXXXXX",
                  tmp && *tmp ? tmp : "/tmp");
    if (!mkdtemp(video.dir)) {
        std::fprintf(stderr, "vorta-capture: cannot create a temporary folder %s: %s\n", video.dir,
                     std::strerror(errno));
        video.dir[0] = '\0';
        return 0;
    }
    video.video_tmp = std::string(video.dir) + "/video.mp4";
    video.wav_tmp = std::string(video.dir) + "/sound.wav";

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "vorta-capture: cannot create a pipe: %s\n", std::strerror(errno));
        remove_temporaries();
        return 0;
    }
    const std::string size = std::to_string(w * scale) + "x" + std::to_string(h * scale);
    const std::string rate = std::to_string(fps);
    const char* format = yuv_is_420(scale) ? "yuv420p" : "yuv444p";
    // The frames arrive already in the encoder's format, so ffmpeg converts nothing; the colour
    // tags tell players which matrix yuv_upscale used.
    // clang-format off
    const char* argv[] = {
        "ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
        "-f", "rawvideo", "-pix_fmt", format, "-s", size.c_str(), "-framerate", rate.c_str(),
        "-i", "pipe:0",
        "-c:v", "libx264", "-preset", video_preset, "-tune", video_tune, "-crf", video_crf,
        "-pix_fmt", format, "-colorspace", "bt709", "-color_primaries", "bt709",
        "-color_trc", "bt709", "-color_range", "tv",
        "-f", "mp4", video.video_tmp.c_str(), nullptr};
    // clang-format on
    video.encoder = spawn(argv, fds[0]);
    close(fds[0]);
    video.pipe_fd = fds[1];
    if (!video.encoder) {
        close_pipe();
        remove_temporaries();
        return 0;
    }
    return 1;
}

const char* video_temp_wav_path() {
    return video.wav_tmp.c_str();
}

int video_frame(const Pixel32* frame) {
    yuv_upscale(frame, video.w, video.h, video.scale, scaled);
    const auto* bytes = reinterpret_cast<const char*>(scaled);
    std::size_t left = yuv_frame_bytes(video.w, video.h, video.scale);
    while (left > 0) {
        const ssize_t n = write(video.pipe_fd, bytes, left);
        if (n < 0 && errno == EINTR && !interrupt_signal()) continue;
        // Stopped: the caller says so. A Ctrl-C also reaches ffmpeg, whose end breaks the pipe.
        if (n < 0 && interrupt_signal()) return 0;
        if (n <= 0) {
            std::fprintf(stderr, "vorta-capture: ffmpeg stopped taking frames: %s\n",
                         std::strerror(errno));
            return 0;
        }
        bytes += n;
        left -= static_cast<std::size_t>(n);
    }
    return 1;
}

int video_end(const char* out_path, const char* wav_path) {
    close_pipe();  // end of stream: ffmpeg finishes the file and exits
    int ok = reap(video.encoder, "encoding the frames");
    video.encoder = 0;
    if (ok) {
        const char* argv[] = {"ffmpeg",    "-hide_banner", "-loglevel", "error",
                              "-nostdin",  "-y",           "-i",        video.video_tmp.c_str(),
                              "-i",        wav_path,       "-map",      "0:v",
                              "-map",      "1:a",          "-c:v",      "copy",
                              "-c:a",      "aac",          "-b:a",      "192k",
                              "-movflags", "+faststart",   "-f",        "mp4",
                              out_path,    nullptr};
        const pid_t muxer = spawn(argv, -1);
        ok = muxer && reap(muxer, "writing the video file");
        if (!ok && !interrupt_signal()) {
            std::fprintf(stderr, "vorta-capture: the video was not written completely\n");
        }
    }
    remove_temporaries();
    return ok;
}

void video_abort() {
    close_pipe();
    if (video.encoder) {
        kill(video.encoder, SIGTERM);
        int status = 0;
        waitpid(video.encoder, &status, 0);
        video.encoder = 0;
    }
    remove_temporaries();
}
