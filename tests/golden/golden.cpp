// The show walk, the frame list file and the pixel comparison of the golden frames.
#include "tests/golden/golden.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "assets/assets.h"
#include "driver/frame.h"
#include "driver/music_position.h"
#include "driver/show_sound.h"
#include "driver/sync.h"
#include "driver/timeline.h"
#include "sound/bassmod.h"

std::uint64_t golden_walk(const GoldenVisit& visit) {
    if (!show_open_offline()) return 0;
    demo_reset();
    show_play(sync_event_proc);
    std::uint64_t k = 0;
    for (;; ++k) {
        if (!sound_offline_advance(k * show_rate / 60) || !BASSMOD_MusicIsActive()) break;
        GoldenStep step{};
        step.k = k;
        step.position = BASSMOD_MusicGetPosition();
        const MusicPosition at = music_position(step.position);
        step.order = at.order;
        step.row = at.row;
        step.flash_before = flash_level.load();
        step.mask_selection = mask_selection.load();
        step.beats_before = beat_count.load();
        step.drew_grid = timeline_needs_grid(at);
        demo_frame(step.position);
        visit(step);
    }
    BASSMOD_Free();
    return k;
}

int golden_read_list(const std::string& path, std::vector<GoldenEntry>& out) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        std::fprintf(stderr, "golden: cannot read %s\n", path.c_str());
        return 0;
    }
    out.clear();
    char line[256];
    int line_no = 0, ok = 1;
    while (ok && std::fgets(line, sizeof line, f)) {
        ++line_no;
        if (line[0] == '#' || line[0] == '\n') continue;
        unsigned long long k = 0, hash = 0;
        int order = 0;
        float row = 0;
        char label[64];
        if (std::sscanf(line, "%llu %llx %d %f %63s", &k, &hash, &order, &row, label) != 5) {
            std::fprintf(stderr, "golden: %s:%d: expected `k hash order row label`\n", path.c_str(),
                         line_no);
            ok = 0;
            break;
        }
        out.push_back({k, hash, order, row, label});
    }
    std::fclose(f);
    if (ok && out.empty()) {
        std::fprintf(stderr, "golden: %s lists no frame\n", path.c_str());
        ok = 0;
    }
    return ok;
}

int golden_write_list(const std::string& path, const std::vector<GoldenEntry>& list) {
    // Written beside the target and renamed over it: a reader sees the old list or the new one.
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "golden: cannot create %s\n", temp.c_str());
        return 0;
    }
    int ok = std::fputs(
                 "# Every frame of the show at 60 fps: frame k is composed at sample "
                 "k * 44100 / 60.\n# k, FNV-1a 64 over the 76800 pixels as 32-bit units, "
                 "order, row, and why it is kept\n# as frame_KKKKK.png (- for a frame "
                 "kept by its hash only).\n",
                 f) >= 0;
    for (const GoldenEntry& e : list) {
        ok = ok && std::fprintf(f, "%05" PRIu64 " %016" PRIx64 " %2d %8.4f %s\n", e.k, e.hash,
                                e.order, static_cast<double>(e.row), e.label.c_str()) > 0;
    }
    ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = 0;
    if (!ok) {
        std::fprintf(stderr, "golden: cannot write %s\n", path.c_str());
        std::remove(temp.c_str());
    }
    return ok;
}

std::string golden_png_name(std::uint64_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05" PRIu64 ".png", k);
    return name;
}

int golden_compare(const Pixel32* expected, const Pixel32* actual, Pixel32* diff) {
    int differing = 0;
    for (int i = 0; i < screen_pixels; ++i) {
        const bool same = expected[i] == actual[i];
        differing += same ? 0 : 1;
        if (!diff) continue;
        // A quarter of the expected pixel's green as grey keeps the scene readable behind the red.
        const Pixel32 g = ((expected[i] >> 8) & 0xFF) / 4;
        diff[i] = same ? (g << 16 | g << 8 | g) : 0x00FF0000;
    }
    return differing;
}
