// The show against its golden record: every frame must match its recorded hash, and the frames
// kept as pictures must match them pixel for pixel. A mismatch leaves the actual frame and a
// difference picture in the build tree.
#include "tests/golden/golden.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/frame.h"
#include "tests/golden/golden_png.h"

namespace {

const std::string golden_dir = GOLDEN_DIR;   // the recorded set, in the source tree
const std::string out_dir = GOLDEN_OUT_DIR;  // where mismatches are written

TEST(Golden, ComparisonCountsEveryByteAndMarksDifferences) {
    static Pixel32 a[screen_pixels], b[screen_pixels], diff[screen_pixels];
    for (int i = 0; i < screen_pixels; ++i) a[i] = b[i] = 0x00405060;
    EXPECT_EQ(golden_compare(a, b, diff), 0);
    EXPECT_EQ(golden_hash(a), golden_hash(b));
    b[7] ^= 0x01000000;  // the top byte counts too
    EXPECT_NE(golden_hash(a), golden_hash(b));
    b[screen_pixels - 1] ^= 0x00000001;
    EXPECT_EQ(golden_compare(a, b, diff), 2);
    EXPECT_EQ(diff[7], 0x00FF0000u);
    EXPECT_EQ(diff[0], 0x00141414u);  // a quarter of green 0x50, as grey
    // Two swapped pixels change the hash: it depends on the order of the pixels.
    b[7] = a[7];
    b[screen_pixels - 1] = a[screen_pixels - 1];
    b[0] = 1;
    b[1] = 2;
    a[0] = 2;
    a[1] = 1;
    EXPECT_NE(golden_hash(a), golden_hash(b));
}

TEST(Golden, ShowMatchesRecordedFrames) {
    std::vector<GoldenEntry> list;
    ASSERT_TRUE(golden_read_list(golden_dir + "/frames.txt", list));
    static Pixel32 expected[screen_pixels], diff[screen_pixels];

    int hash_mismatches = 0, picture_mismatches = 0, pictures = 0;
    std::string first_mismatch;
    const std::uint64_t frames = golden_walk([&](const GoldenStep& s) {
        if (s.k >= list.size()) return;
        const GoldenEntry& e = list[s.k];
        const std::string name = "frame " + std::to_string(s.k) + " (order " +
                                 std::to_string(e.order) + ", row " + std::to_string(e.row) + ", " +
                                 e.label + ")";
        EXPECT_EQ(e.k, s.k) << "frames.txt is out of order at " << name;
        EXPECT_EQ(s.order, e.order) << name;
        const bool hash_ok = golden_hash(framebuffer) == e.hash;
        if (!hash_ok && hash_mismatches++ == 0) {
            // Kept by its hash only: its picture at least shows what the show now draws.
            first_mismatch = name;
            if (e.label == "-") {
                first_mismatch += ", now " + out_dir + "/frame_" + std::to_string(s.k) + ".png";
                golden_png_write((out_dir + "/frame_" + std::to_string(s.k) + ".png").c_str(),
                                 framebuffer);
            }
        }
        if (e.label == "-") return;

        ++pictures;
        const std::string png = golden_dir + "/" + golden_png_name(e.k);
        ASSERT_TRUE(golden_png_read(png.c_str(), expected)) << name;
        const int differing = golden_compare(expected, framebuffer, diff);
        if (differing == 0 && hash_ok) return;
        ++picture_mismatches;
        const std::string stem = out_dir + "/frame_" + std::to_string(e.k);
        golden_png_write((stem + "_actual.png").c_str(), framebuffer);
        golden_png_write((stem + "_diff.png").c_str(), diff);
        ADD_FAILURE() << name << ": " << differing << " of " << screen_pixels
                      << " pixels differ from " << png << "\n  actual: " << stem
                      << "_actual.png\n  diff:   " << stem << "_diff.png";
    });
    EXPECT_EQ(frames, list.size()) << "frames.txt records a show of another length";
    EXPECT_GE(pictures, 40);
    EXPECT_EQ(hash_mismatches, 0) << "frames differing from their recorded hash, the first: "
                                  << first_mismatch;
    if (hash_mismatches || picture_mismatches) {
        ADD_FAILURE()
            << "If the change of picture is deliberate, re-record the golden set with:\n  "
            << RECORD_COMMAND << " " << golden_dir;
    }
}

}  // namespace
