// The time from a caller's query to the moment its frame is seen, estimated from stamps the
// display takes: when the caller asked, when each frame reached the screen.
#pragma once

#include <cstdint>

// Recent observations, newest overwriting oldest. All times in nanoseconds.
struct FbLead {
    static constexpr int n = 15;
    std::int64_t query_to_seen[n];  // from the caller's query to its frame reaching the screen
    std::int64_t spacing[n];        // between frames reaching the screen: each one's time shown
    int queries, spacings;          // samples taken so far of each kind (capped at n when read)
    std::int64_t last_seen;         // when the previous frame reached the screen; 0: none yet
    std::int64_t interval;          // the display's refresh interval, the spacing until measured
};

// Forgets everything; `interval` is the refresh interval the display reports.
void fb_lead_reset(FbLead& lead, std::int64_t interval);
// A frame queried at `query` reached the screen at `seen`.
void fb_lead_seen(FbLead& lead, std::int64_t query, std::int64_t seen);
// Expected time from a query to the middle of its frame's time on screen: the median
// query-to-screen time plus half the median spacing. 0 before any frame was seen.
std::int64_t fb_lead_estimate(const FbLead& lead);
