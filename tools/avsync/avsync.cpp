// vorta-avsync: measures how far the picture on screen is from the sound the device plays, from
// outside the program. Runs the given program with SDL's disk audio driver on the current X
// display, grabs the screen, finds each grab's music position in the offline show and prints the
// distribution of the lag (device position minus the position on screen) and the flash onsets.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tools/avsync/device_clock.h"
#include "tools/avsync/reference.h"
#include "tools/avsync/signature.h"
#include "tools/avsync/xgrab.h"

extern char** environ;

namespace {

constexpr double frames_per_ms = 44.1;
constexpr double frame_60hz_ms = 1000.0 / 60;

struct Options {
    const char* program = nullptr;
    double from_s = 20, to_s = 50;  // the span of music measured
    double fps = 30;                // full-screen grabs per second
    std::string audio_file;
};

struct Sample {
    std::int64_t ns;
    double value;
};

// The picture's place on the screen: integer-scaled and centred, as the display shows it.
struct Layout {
    int scale, x, y;
};

void usage() {
    std::fputs(
        "usage: vorta-avsync [--from S] [--to S] [--fps N] [--audio-file PATH] PROGRAM\n"
        "Run under an X display (see tools/avsync/run.sh): starts PROGRAM with SDL's disk\n"
        "audio driver, grabs the screen from S seconds of music to S seconds and prints\n"
        "the lag of the picture behind the sound, in ms.\n",
        stderr);
}

int parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--from" && has_value)
            o->from_s = std::atof(argv[++i]);
        else if (a == "--to" && has_value)
            o->to_s = std::atof(argv[++i]);
        else if (a == "--fps" && has_value)
            o->fps = std::atof(argv[++i]);
        else if (a == "--audio-file" && has_value)
            o->audio_file = argv[++i];
        else if (a[0] != '-' && !o->program)
            o->program = argv[i];
        else
            return 0;
    }
    if (o->audio_file.empty())
        o->audio_file = "/tmp/vorta-avsync-" + std::to_string(getpid()) + ".raw";
    return o->program && o->from_s >= 0 && o->to_s > o->from_s && o->fps > 0 && o->fps <= 200;
}

pid_t spawn(const Options& o) {
    std::vector<std::string> env_text = {"SDL_AUDIODRIVER=disk",
                                         "SDL_DISKAUDIOFILE=" + o.audio_file};
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "SDL_AUDIODRIVER=", 16) && std::strncmp(*e, "SDL_DISKAUDIOFILE=", 18))
            env_text.push_back(*e);
    }
    std::vector<char*> env;
    for (auto& s : env_text) env.push_back(s.data());
    env.push_back(nullptr);
    char* args[] = {const_cast<char*>(o.program), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, o.program, nullptr, nullptr, args, env.data()) == 0 ? pid : -1;
}

// Mean luma of three rows across the picture, as fast as the server answers: flash onsets.
void watch_strips(const Layout& l, const std::atomic<bool>* stop, std::vector<Sample>* out) {
    XGrabState* rows[3];
    for (int i = 0; i < 3; ++i) {
        const int y = l.y + (60 + 60 * i) * l.scale + l.scale / 2;
        rows[i] = xgrab_open(l.x, y, 320 * l.scale, 1, nullptr, nullptr);
        if (!rows[i]) return;
    }
    while (!stop->load()) {
        double sum = 0;
        std::int64_t t = 0;
        for (XGrabState* g : rows) {
            int stride;
            std::int64_t mid;
            const std::uint32_t* p = xgrab_take(g, &stride, &mid);
            if (!p) continue;
            if (!t) t = mid;
            for (int x = 0; x < 320; ++x) {
                const std::uint32_t c = p[x * l.scale + l.scale / 2];
                sum += ((c >> 16 & 0xFF) * 77 + (c >> 8 & 0xFF) * 150 + (c & 0xFF) * 29) >> 8;
            }
        }
        out->push_back({t, sum / (3 * 320)});
        // About a sample a millisecond: finer than any onset that matters, and it leaves the
        // server and the program their time.
        std::this_thread::sleep_for(std::chrono::microseconds(800));
    }
    for (XGrabState* g : rows) xgrab_close(g);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const double at = p * (v.size() - 1);
    const std::size_t i = static_cast<std::size_t>(at);
    return i + 1 < v.size() ? v[i] + (v[i + 1] - v[i]) * (at - i) : v[i];
}

void print_distribution(const char* name, const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    std::printf("%-6s mean %7.2f  median %7.2f  p95 %7.2f  max %7.2f  (ms)\n", name, sum / v.size(),
                percentile(v, 0.5), percentile(v, 0.95), *std::max_element(v.begin(), v.end()));
}

// The grab's music position in ms: the offline frame nearest the device's position that looks
// most like it. NAN when the best match is not one moment (a still picture, a black screen).
double match(const Reference& ref, const Signature& s, double near_ms) {
    const int lo = std::max(0, static_cast<int>(near_ms) - 400);
    const int hi =
        std::min(static_cast<int>(ref.frames.size()) - 1, static_cast<int>(near_ms) + 400);
    double best = 1e9;
    std::vector<double> d(static_cast<std::size_t>(std::max(0, hi - lo + 1)));
    for (int k = lo; k <= hi; ++k) {
        d[k - lo] = sig_distance(ref.frames[k], s);
        best = std::min(best, d[k - lo]);
    }
    // Neighbouring milliseconds can look the same; their middle is the position. Far apart ties
    // mean the picture does not tell.
    int first = -1, last = -1;
    for (int k = lo; k <= hi; ++k) {
        if (d[k - lo] > best + 1e-4) continue;
        if (first < 0) first = k;
        last = k;
    }
    if (std::getenv("AVSYNC_DEBUG")) {
        std::fprintf(stderr, "near %.0f best %.4f at %d..%d\n", near_ms, best, first, last);
    }
    if (first < 0 || best > 0.05 || last - first > 4) return NAN;
    return (first + last) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        usage();
        return 2;
    }
    std::fprintf(stderr, "vorta-avsync: rendering the offline show to %.0f s ...\n", o.to_s + 1);
    Reference ref;
    if (!reference_build(static_cast<std::uint32_t>((o.to_s + 1) * 1000), &ref)) {
        std::fputs("vorta-avsync: the offline show did not start\n", stderr);
        return 1;
    }
    int sw = 0, sh = 0;
    XGrabState* screen = xgrab_open(0, 0, 1, 1, &sw, &sh);
    xgrab_close(screen);
    const int scale = std::min(sw / 320, sh / 240);
    if (scale < 1) {
        std::fputs("vorta-avsync: no 24-bit X display with shared memory (run under run.sh)\n",
                   stderr);
        return 1;
    }
    const Layout layout{scale, (sw - 320 * scale) / 2, (sh - 240 * scale) / 2};
    XGrabState* full = xgrab_open(layout.x, layout.y, 320 * scale, 240 * scale, nullptr, nullptr);
    if (!full || !devclock_start(o.audio_file.c_str(), 512, ref.first_sound)) {
        std::fputs("vorta-avsync: cannot grab the screen or watch the audio file\n", stderr);
        return 1;
    }
    const pid_t pid = spawn(o);
    if (pid < 0) {
        std::fprintf(stderr, "vorta-avsync: cannot start %s\n", o.program);
        return 1;
    }
    std::fprintf(stderr, "vorta-avsync: %s started; measuring %.1f s to %.1f s of music\n",
                 o.program, o.from_s, o.to_s);

    std::atomic<bool> stop_strips{false};
    std::vector<Sample> strips;
    std::thread strip_thread;
    std::vector<std::pair<std::int64_t, Signature>> grabs;
    const auto period = std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 / o.fps));
    auto next = std::chrono::steady_clock::now();
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) break;  // ended early
        const double at = devclock_frame_at(xgrab_now_ns()) / frames_per_ms;
        if (at >= o.to_s * 1000) break;
        if (at >= o.from_s * 1000) {
            if (!strip_thread.joinable()) {
                strip_thread = std::thread(watch_strips, layout, &stop_strips, &strips);
            }
            int stride;
            std::int64_t mid;
            const std::uint32_t* p = xgrab_take(full, &stride, &mid);
            if (p) {
                grabs.push_back(
                    {mid, sig_of([&](int x, int y) {
                         return p[(y * scale + scale / 2) * stride + x * scale + scale / 2] &
                                0xFFFFFF;
                     })});
            }
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
    stop_strips = true;
    if (strip_thread.joinable()) strip_thread.join();
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
    int growths;
    std::int64_t step;
    double interval;
    devclock_growth(&growths, &step, &interval);
    // The device's sound from the song's first sound on must be the offline song's, sample for
    // sample: then the file's frames are the song's frames, shifted by the silence before it.
    const double offset = devclock_song_offset();
    bool same_sound = false;
    if (offset >= 0) {
        std::vector<std::int16_t> got(ref.opening.size());
        if (std::FILE* f = std::fopen(o.audio_file.c_str(), "rb")) {
            std::fseek(f, static_cast<long>((offset + ref.first_sound) * 4), SEEK_SET);
            same_sound =
                std::fread(got.data(), 2, got.size(), f) == got.size() && got == ref.opening;
            std::fclose(f);
        }
    }
    std::printf("vorta-avsync: the audio file watched at %s priority\n",
                devclock_prompt() ? "real-time" : "normal");
    std::printf(
        "vorta-avsync: the song starts %.1f ms into the device's output; its sound %s the "
        "offline song's\n",
        offset / frames_per_ms, same_sound ? "matches" : "DOES NOT MATCH");

    // Lag of every grab.
    std::vector<double> lag, abs_lag;
    int unmatched = 0;
    for (const auto& [ns, sig] : grabs) {
        const double device_ms = devclock_frame_at(ns) / frames_per_ms;
        const double shown_ms = match(ref, sig, device_ms);
        if (std::isnan(shown_ms) || device_ms < 0) {
            ++unmatched;
            continue;
        }
        lag.push_back(device_ms - shown_ms);
        abs_lag.push_back(std::fabs(device_ms - shown_ms));
    }
    std::printf(
        "vorta-avsync: %s, music %.1f-%.1f s, %zu grabs (%d not placed), audio file grew "
        "%d times by %lld bytes every %.2f ms\n",
        o.program, o.from_s, o.to_s, grabs.size(), unmatched, growths, static_cast<long long>(step),
        interval);
    if (lag.empty()) {
        std::puts("no grab could be placed");
        devclock_stop();
        std::remove(o.audio_file.c_str());
        return 1;
    }
    print_distribution("lag", lag);
    print_distribution("|lag|", abs_lag);
    const auto within =
        std::count_if(abs_lag.begin(), abs_lag.end(), [](double x) { return x <= frame_60hz_ms; });
    std::printf("within one 60 Hz frame (16.7 ms): %.1f %% of %zu grabs\n",
                100.0 * within / abs_lag.size(), abs_lag.size());

    // Flash onsets: the first strip sample much brighter than the ones just before it.
    std::vector<double> onsets;  // steady-clock ms
    for (std::size_t i = 8; i < strips.size(); ++i) {
        double base = 1e9;
        for (std::size_t j = i - 8; j < i; ++j) base = std::min(base, strips[j].value);
        if (strips[i].value - base < 25) continue;
        const double t = (strips[i].ns + strips[i - 1].ns) / 2e6;  // between the two samples
        if (onsets.empty() || t - onsets.back() > 150) onsets.push_back(t);
    }
    std::vector<double> delays;
    int missed = 0;
    for (double f : ref.flash_ms) {
        if (f < o.from_s * 1000 + 100 || f > o.to_s * 1000 - 300) continue;
        const double reached = devclock_time_of(f * frames_per_ms) / 1e6;
        double best = NAN;
        for (double t : onsets) {
            if (t - reached > -100 && t - reached < 250 &&
                (std::isnan(best) || std::fabs(t - reached) < std::fabs(best))) {
                best = t - reached;
            }
        }
        if (std::isnan(best) || reached < 0) {
            ++missed;
            continue;
        }
        delays.push_back(best);
    }
    std::printf(
        "flash onsets after the device reaches the row: %zu seen, %d not seen, strip "
        "sampled every %.2f ms\n",
        delays.size(), missed,
        strips.size() > 1 ? (strips.back().ns - strips.front().ns) / 1e6 / (strips.size() - 1)
                          : 0.0);
    if (!delays.empty()) {
        std::printf("flash  ");
        for (double d : delays) std::printf(" %.1f", d);
        std::printf("\n");
        print_distribution("flash", delays);
    }
    devclock_stop();
    std::remove(o.audio_file.c_str());
    return 0;
}
