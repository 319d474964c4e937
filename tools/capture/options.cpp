// Command-line parsing of vorta-capture, with exact decimal seconds.
#include "tools/capture/options.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* usage_text =
    "usage: vorta-capture [options] OUTPUT...\n"
    "Renders the show offline, frame by frame, with the program's own per-frame code.\n"
    "\n"
    "Range and pace:\n"
    "  --fps N       frames per second of music, 1 to 1000 (default 60)\n"
    "  --from S      first second to write (frames before it are still simulated)\n"
    "  --to S        end of the range in seconds (default: the end of the song)\n"
    "  --scale K     nearest-neighbour upscale of --video, 1 to 8 (default 4)\n"
    "Outputs (any combination, at least one):\n"
    "  --png DIR     one RGB PNG per frame: DIR/frame_00000.png, ... counted from --from\n"
    "  --raw FILE    each framebuffer as in memory (307200 bytes, B G R 0), concatenated\n"
    "  --wav FILE    the music of the range, 44100 Hz 16-bit stereo\n"
    "  --video FILE  H.264 + AAC MP4 through ffmpeg, BT.709; 4:2:0 chroma at an even\n"
    "                --scale (each big pixel keeps its own colour), 4:4:4 at an odd one\n"
    "  --sheet FILE  contact sheet PNG: thumbnails across the range, order/row and time\n"
    "  --assets DIR  the embedded textures, masks and end picture as PNGs\n"
    "  --help        this text\n"
    "  --version     the version number\n"
    "\n"
    "Frame k is composed at sample floor(k * 44100 / fps) of the song.\n"
    "\n"
    "Files appear whole or not at all. Every output is checked before the first frame. Each\n"
    "FILE is written under a hidden temporary name (.NAME.XXXXXX) in its own folder, and the\n"
    "PNGs of DIR into a hidden folder inside DIR (.vorta-capture-XXXXXX, DIR made if missing);\n"
    "only when every output is complete are they renamed into place, replacing files of the\n"
    "same names. A run that fails or is stopped (SIGINT, SIGTERM, SIGHUP) removes its\n"
    "temporaries and the folders it made, and leaves every output path as it was before.\n"
    "FILE may be a device, a FIFO or - (standard output), also any path under /dev/ or\n"
    "/proc/: it is written in place and never removed; --raw streams into it frame by frame,\n"
    "the others get their complete file once the run has succeeded.\n"
    "\n"
    "Exit status: 0 done, 1 output or ffmpeg failure, 2 bad arguments,\n"
    "128 + the signal's number when stopped by one (130 SIGINT, 143 SIGTERM, 129 SIGHUP).\n";

// Parses a decimal integer in [lo, hi]. 1 on success.
int parse_uint(const char* text, std::uint32_t lo, std::uint32_t hi, std::uint32_t* out) {
    if (*text == '\0' || std::strlen(text) > 9) return 0;  // 9 digits cannot overflow 64 bits
    std::uint64_t v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        v = v * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (v < lo || v > hi) return 0;
    *out = static_cast<std::uint32_t>(v);
    return 1;
}

}  // namespace

int options_seconds_to_samples(const char* text, std::uint64_t* samples) {
    // Integer arithmetic throughout, so "30.1" gives 1327410 and never 1327409 through a
    // binary fraction that falls just short.
    std::uint64_t whole = 0, fraction = 0, unit = 1;
    int whole_digits = 0, fraction_digits = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p, ++whole_digits) {
        whole = whole * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p, ++fraction_digits) {
            fraction = fraction * 10 + static_cast<std::uint64_t>(*p - '0');
            unit *= 10;
        }
    }
    // The digit limits keep fraction × 44100 below 2^64.
    if (*p != '\0' || whole_digits + fraction_digits == 0 || whole_digits > 7 ||
        fraction_digits > 12) {
        return 0;
    }
    *samples = whole * capture_rate + fraction * capture_rate / unit;
    return 1;
}

void options_usage(void* stream) {
    std::fputs(usage_text, static_cast<std::FILE*>(stream));
}

int options_parse(int argc, char** argv, CaptureOptions* out) {
    *out = CaptureOptions{};
    bool has_to = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            out->help = true;
            return 1;
        }
        if (std::strcmp(arg, "--version") == 0) {
            out->version = true;
            return 1;
        }
        if (std::strncmp(arg, "--", 2) != 0 || i + 1 >= argc) {
            std::fprintf(
                stderr, "vorta-capture: %s '%s'\n",
                std::strncmp(arg, "--", 2) != 0 ? "unexpected argument" : "missing value for", arg);
            return 0;
        }
        const char* value = argv[++i];
        int ok = 1;
        if (std::strcmp(arg, "--fps") == 0) {
            ok = parse_uint(value, 1, 1000, &out->fps);
        } else if (std::strcmp(arg, "--scale") == 0) {
            ok = parse_uint(value, 1, 8, &out->scale);
        } else if (std::strcmp(arg, "--from") == 0) {
            ok = options_seconds_to_samples(value, &out->from_sample);
        } else if (std::strcmp(arg, "--to") == 0) {
            ok = options_seconds_to_samples(value, &out->to_sample);
            has_to = true;
        } else if (std::strcmp(arg, "--png") == 0) {
            out->png_dir = value;
        } else if (std::strcmp(arg, "--raw") == 0) {
            out->raw_path = value;
        } else if (std::strcmp(arg, "--wav") == 0) {
            out->wav_path = value;
        } else if (std::strcmp(arg, "--video") == 0) {
            out->video_path = value;
        } else if (std::strcmp(arg, "--sheet") == 0) {
            out->sheet_path = value;
        } else if (std::strcmp(arg, "--assets") == 0) {
            out->assets_dir = value;
        } else {
            std::fprintf(stderr, "vorta-capture: unknown option '%s'\n", arg);
            return 0;
        }
        if (!ok || *value == '\0') {
            std::fprintf(stderr, "vorta-capture: bad value '%s' for %s\n", value, arg);
            return 0;
        }
    }
    if (has_to && out->to_sample <= out->from_sample) {
        std::fputs("vorta-capture: --to must lie after --from\n", stderr);
        return 0;
    }
    if (!out->png_dir && !out->raw_path && !out->wav_path && !out->video_path && !out->sheet_path &&
        !out->assets_dir) {
        std::fputs("vorta-capture: no output given\n", stderr);
        return 0;
    }
    return 1;
}
