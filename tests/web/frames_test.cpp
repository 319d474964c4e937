// The show as the web build draws it, stepped offline under Node, against the frame hashes the
// native build recorded: every frame of every order must be the same picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/frame.h"
#include "tests/golden/golden.h"

namespace {

TEST(WebFrames, EveryFrameMatchesTheNativeRecord) {
    std::vector<GoldenEntry> list;
    ASSERT_TRUE(golden_read_list(std::string(GOLDEN_DIR) + "/frames.txt", list));
    int orders_seen[256] = {};
    std::uint64_t same = 0, compared = 0;
    std::string mismatches;
    const std::uint64_t frames = golden_walk([&](const GoldenStep& s) {
        if (s.k >= list.size()) return;
        ++compared;
        if (s.order >= 0 && s.order < 256) orders_seen[s.order] = 1;
        if (golden_hash(framebuffer) == list[s.k].hash && s.order == list[s.k].order) {
            ++same;
        } else if (mismatches.size() < 400) {
            mismatches += " " + std::to_string(s.k) + "(order " + std::to_string(s.order) + ")";
        }
    });
    int orders = 0;
    for (const int seen : orders_seen) orders += seen;
    std::printf("web frames: %llu of %llu identical to the native record, %d orders, %llu frames\n",
                static_cast<unsigned long long>(same), static_cast<unsigned long long>(compared),
                orders, static_cast<unsigned long long>(frames));
    EXPECT_EQ(frames, list.size()) << "the walk and the record differ in length";
    EXPECT_EQ(orders, 20);
    EXPECT_EQ(same, compared) << "differing frames:" << mismatches;
}

}  // namespace
