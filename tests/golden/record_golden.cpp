// record_golden FOLDER (tests/golden/frames): plays the show, hashes every frame and keeps about
// sixty telling ones as pictures, and writes them to FOLDER as frames.txt and frame_KKKKK.png.
// Run it only to accept a deliberate change of the picture: the golden test compares every
// later build against what it writes.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "driver/frame.h"
#include "tests/golden/golden.h"
#include "tests/golden/golden_png.h"

namespace {

// Chooses the frames kept as pictures while the show plays: the fades in and out, every mask
// image the show uses, flashes and their decay, beat turns, the order-8 wrap at row 32, the
// second-half reset, a frame of every order and the end picture.
struct Picker {
    std::string folder;
    std::vector<GoldenEntry> list;  // every frame, in order
    bool failed = false;
    std::set<std::string> done;  // reasons already used once
    int last_order = -1;
    std::int32_t last_beats = 0;
    int frames_in_order = 0;

    // Keeps the current frame as a picture under `label` unless it already has one or the
    // label has been used; true when it was kept.
    bool keep(const std::string& label) {
        GoldenEntry& e = list.back();
        if (e.label != "-" || done.count(label)) return false;
        done.insert(label);
        e.label = label;
        const std::string path = folder + "/" + golden_png_name(e.k);
        if (!golden_png_write(path.c_str(), framebuffer)) failed = true;
        return true;
    }

    // Keeps the first frame at or past `row` of `order`.
    void keep_row(const GoldenStep& s, int order, float row, const char* what) {
        if (s.order == order && s.row >= row)
            keep(what + std::string("_o") + std::to_string(order) + "r" +
                 std::to_string(static_cast<int>(row)));
    }

    void visit(const GoldenStep& s) {
        list.push_back({s.k, golden_hash(framebuffer), s.order, s.row, "-"});
        frames_in_order = s.order == last_order ? frames_in_order + 1 : 0;
        const std::string o = std::to_string(s.order);
        if (s.k == 0) keep("t0_black");
        // Fade-in from black: amount 255 − T, ending where T passes 255 (order 1, row 127).
        keep_row(s, 0, 20, "fade_in");
        keep_row(s, 0, 60, "fade_in");
        keep_row(s, 1, 0, "fade_in");
        keep_row(s, 1, 100, "fade_in");
        if (s.order == 1 && 128.0f + s.row > 255.0f) keep("fade_in_over");
        // Order 8 fades to black by row × 8, which wraps at row 32; order 9 fades in over 64 rows.
        for (float row : {16.0f, 31.0f, 32.0f, 48.0f, 62.0f}) keep_row(s, 8, row, "fade_out");
        for (float row : {32.0f, 63.0f, 64.0f, 100.0f}) keep_row(s, 9, row, "fade_in");
        if (s.order == 9 && frames_in_order == 0) keep("second_half_first");
        // The beat counter is reset by the first second-half frame and turns the next camera.
        if (s.order == 9 && frames_in_order == 1) keep("second_half_reset");
        const bool flashing = (s.order >= 4 && s.order <= 7) || (s.order >= 9 && s.order <= 17);
        if (flashing && s.flash_before > 0.5f && s.flash_before < 0.95f) keep("flash_o" + o);
        if (flashing && s.flash_before > 0.0f && s.flash_before < 0.4f && s.order % 3 == 0)
            keep("flash_decay_o" + o);
        if (s.k > 0 && s.beats_before != last_beats && s.order % 2 == 0) keep("beat_turn_o" + o);
        const int images = s.order == 4 || s.order == 5 || s.order == 16 ? 4
                           : s.order == 12                               ? 8
                                                                         : 0;
        if (images) keep("mask_o" + o + "_" + std::to_string(s.mask_selection % images));
        // Every order at least once, and the end picture.
        if (s.row >= 40 && !done.count("flash_o" + o) && !done.count("beat_turn_o" + o))
            keep("order_o" + o);
        last_order = s.order;
        last_beats = s.beats_before;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: record_golden FOLDER\n", stderr);
        return 2;
    }
    Picker picker;
    picker.folder = argv[1];
    const std::uint64_t frames = golden_walk([&](const GoldenStep& s) { picker.visit(s); });
    if (frames == 0) {
        std::fputs("record_golden: the sound layer did not start\n", stderr);
        return 1;
    }
    picker.keep("last_frame");  // the end picture, after the whole show
    if (picker.failed || !golden_write_list(picker.folder + "/frames.txt", picker.list)) return 1;
    std::printf("record_golden: %llu frames hashed, %zu kept as pictures in %s\n",
                static_cast<unsigned long long>(frames), picker.done.size(), argv[1]);
    return 0;
}
