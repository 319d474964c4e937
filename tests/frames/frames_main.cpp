// vorta-frames: the show's pictures at 60 frames per second, written by one build and compared
// by another, so that the Windows and Linux programs can be shown to draw the same show.
//
//   vorta-frames write DIR     writes DIR/frames.raw (the kept frames, raw Pixel32) and
//                              DIR/frames.txt (one line per frame: frame, sample, position)
//   vorta-frames compare DIR   draws its own frames and compares them with DIR's; prints the
//                              figures; exit 0 when every frame matches, 1 when one does not
//
// Exit status 2: bad command line or unreadable input.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/frame.h"
#include "driver/music_position.h"
#include "tests/frames/frames.h"

namespace {

struct Writer {
    std::FILE* raw;
    std::FILE* index;
    bool failed;
};

void write_frame(const FrameInfo& info, void* user) {
    auto& w = *static_cast<Writer*>(user);
    w.failed |= std::fwrite(framebuffer, sizeof framebuffer, 1, w.raw) != 1;
    w.failed |= std::fprintf(w.index, "%" PRIu64 " %" PRIu64 " %" PRIu32 "\n", info.frame,
                             info.sample, info.position) < 0;
}

// Closes `f` and renames `from` to `to`; a file left half-written is removed instead.
bool finish(std::FILE* f, bool ok, const std::string& from, const std::string& to) {
    ok = std::fclose(f) == 0 && ok;
    std::remove(to.c_str());  // Windows does not rename over an existing file
    if (ok && std::rename(from.c_str(), to.c_str()) == 0) return true;
    std::remove(from.c_str());
    return false;
}

int write_frames(const std::string& dir) {
    const std::string raw = dir + "/frames.raw", index = dir + "/frames.txt";
    Writer w{std::fopen((raw + ".part").c_str(), "wb"), std::fopen((index + ".part").c_str(), "w"),
             false};
    if (!w.raw || !w.index) {
        std::fprintf(stderr, "vorta-frames: cannot create files in %s\n", dir.c_str());
        if (w.raw) finish(w.raw, false, raw + ".part", raw);
        if (w.index) finish(w.index, false, index + ".part", index);
        return 2;
    }
    const bool ran = frames_run(write_frame, &w) == 1;
    const bool ok = finish(w.raw, ran && !w.failed, raw + ".part", raw) &&
                    finish(w.index, ran && !w.failed, index + ".part", index);
    if (!ok) std::fprintf(stderr, "vorta-frames: could not write the frames to %s\n", dir.c_str());
    return ok ? 0 : 1;
}

struct Comparer {
    std::FILE* raw;
    std::FILE* index;
    std::vector<Pixel32> other;
    int frames, failures, tunnel_free, tunnel, identical_tunnel;
    double lowest;  // lowest share of same pixels among tunnel frames, in %
    bool unreadable;
};

void compare_frame(const FrameInfo& info, void* user) {
    auto& c = *static_cast<Comparer*>(user);
    if (c.unreadable) return;
    std::uint64_t frame = 0, sample = 0;
    std::uint32_t position = 0;
    if (std::fscanf(c.index, "%" SCNu64 " %" SCNu64 " %" SCNu32, &frame, &sample, &position) != 3 ||
        std::fread(c.other.data(), sizeof framebuffer, 1, c.raw) != 1) {
        std::fprintf(stderr, "vorta-frames: the frames to compare end before frame %" PRIu64 "\n",
                     info.frame);
        c.unreadable = true;
        return;
    }
    ++c.frames;
    const MusicPosition at = music_position(info.position);
    if (frame != info.frame || sample != info.sample || position != info.position) {
        std::printf("frame %5" PRIu64
                    ": at order %d row %.2f here, the other build has frame "
                    "%" PRIu64 " at position 0x%08" PRIx32 "\n",
                    info.frame, at.order, at.row, frame, position);
        ++c.failures;
        return;
    }
    const FrameMatch m = frames_match(framebuffer, c.other, at.order);
    const double share = 100.0 * m.same_pixels / screen_pixels;
    if (m.tunnel_free) {
        ++c.tunnel_free;
    } else {
        ++c.tunnel;
        c.identical_tunnel += m.same_pixels == screen_pixels;
        if (share < c.lowest) c.lowest = share;
    }
    c.failures += !m.pass;
    std::printf(
        "frame %5" PRIu64 "  order %2d  row %6.2f  %-11s %5" PRIu32 "/%u same (%7.3f %%)%s\n",
        info.frame, at.order, at.row, m.tunnel_free ? "tunnel-free" : "tunnel", m.same_pixels,
        static_cast<unsigned>(screen_pixels), share, m.pass ? "" : "  MISMATCH");
}

int compare_frames(const std::string& dir) {
    const std::string raw = dir + "/frames.raw", index = dir + "/frames.txt";
    Comparer c{std::fopen(raw.c_str(), "rb"),
               std::fopen(index.c_str(), "r"),
               std::vector<Pixel32>(screen_pixels),
               0,
               0,
               0,
               0,
               0,
               100.0,
               false};
    if (!c.raw || !c.index) {
        std::fprintf(stderr, "vorta-frames: no frames.raw and frames.txt in %s\n", dir.c_str());
        if (c.raw) std::fclose(c.raw);
        if (c.index) std::fclose(c.index);
        return 2;
    }
    const bool ran = frames_run(compare_frame, &c) == 1;
    // The other build must have kept no more frames than this one.
    std::uint64_t extra = 0;
    const bool longer = std::fscanf(c.index, "%" SCNu64, &extra) == 1;
    std::fclose(c.raw);
    std::fclose(c.index);
    if (!ran || c.unreadable) return 2;
    if (longer) {
        std::printf("the other build kept more frames, from frame %" PRIu64 "\n", extra);
        ++c.failures;
    }
    std::printf(
        "%d frames: %d tunnel-free, byte-identical required; %d tunnel frames, %d of them "
        "identical, lowest %.3f %% same pixels (99.900 %% required); %d mismatches\n",
        c.frames, c.tunnel_free, c.tunnel, c.identical_tunnel, c.lowest, c.failures);
    return c.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "write") == 0) return write_frames(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "compare") == 0) return compare_frames(argv[2]);
    std::fputs("usage: vorta-frames write DIR | vorta-frames compare DIR\n", stderr);
    return 2;
}
