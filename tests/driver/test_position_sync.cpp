// The music position unpacked, and what each sync mark does to the shared state.
#include <gtest/gtest.h>

#include "driver/music_position.h"
#include "driver/sync.h"

namespace {

std::uint32_t position(std::uint32_t order, std::uint32_t row_times_256) {
    return order | (row_times_256 << 16);
}

TEST(MusicPosition, ReadsOrderRowAndTime) {
    MusicPosition c = music_position(position(3, 2560));  // order 3, row 10, no fraction
    EXPECT_EQ(c.order, 3);
    EXPECT_EQ(c.row, 10.0f);
    EXPECT_EQ(c.time, 394.0f);

    c = music_position(position(9, 63 * 256 + 128));  // half-way through row 63
    EXPECT_EQ(c.order, 9);
    EXPECT_EQ(c.row, 63.5f);
    EXPECT_EQ(c.time, 9 * 128 + 63.5f);

    c = music_position(position(19, 127 * 256 + 255));  // the largest row value the song gives
    EXPECT_EQ(c.row, 127.0f + 255.0f / 256.0f);
}

TEST(MusicPosition, TimeRunsOnAcrossOrdersAndJumpsAfterShortPatterns) {
    // Within 128-row patterns the last fraction of order 2 meets the start of order 3.
    float end_of_2 = music_position(position(2, 127 * 256 + 255)).time;
    float start_of_3 = music_position(position(3, 0)).time;
    EXPECT_FLOAT_EQ(start_of_3 - end_of_2, 1.0f / 256.0f);
    // Order 8 has 64 rows: its last row is followed by a jump of 64 into order 9.
    float end_of_8 = music_position(position(8, 63 * 256)).time;
    EXPECT_EQ(music_position(position(9, 0)).time - end_of_8, 65.0f);
}

class SyncEvents : public ::testing::Test {
   protected:
    void SetUp() override { sync_reset(); }
};

TEST_F(SyncEvents, BeatsCountFlashesFireOthersSelectOverlays) {
    sync_event_proc(0, 254, 0);
    sync_event_proc(0, 254, 0);  // two beats in one frame both count
    sync_event_proc(0, 255, 0);
    sync_event_proc(0, 6, 0);
    EXPECT_EQ(beat_count.load(), 2);
    EXPECT_EQ(flash_level.load(), 1.0f);
    EXPECT_EQ(mask_selection.load(), 6);
}

TEST_F(SyncEvents, OnlyExactly254And255AreSpecial) {
    sync_event_proc(0, 510, 0);  // low 8 bits 254, but not the beat value
    EXPECT_EQ(mask_selection.load(), 254);
    sync_event_proc(0, 511, 0);
    EXPECT_EQ(mask_selection.load(), 255);
    sync_event_proc(0, 256 + 3, 0);
    EXPECT_EQ(mask_selection.load(), 3);
    EXPECT_EQ(beat_count.load(), 0);
    EXPECT_EQ(flash_level.load(), 0.0f);
}

TEST_F(SyncEvents, OverlayKeepsItsValueUntilTheNextMark) {
    sync_event_proc(0, 2, 0);
    sync_event_proc(0, 254, 0);
    sync_event_proc(0, 255, 0);
    EXPECT_EQ(mask_selection.load(), 2);
}

}  // namespace
