// Median-based estimate of the query-to-screen lead: robust to the odd frame delayed by load.
#include "display/fb_lead.h"

#include <algorithm>

void fb_lead_reset(FbLead& lead, std::int64_t interval) {
    lead = FbLead{};
    lead.interval = interval;
}

void fb_lead_seen(FbLead& lead, std::int64_t query, std::int64_t seen) {
    if (seen >= query) lead.query_to_seen[lead.queries++ % FbLead::n] = seen - query;
    // A gap of several intervals is a pause (inactive window, a stall), not how long frames stay
    // on screen while the show runs: left out.
    const std::int64_t gap = seen - lead.last_seen;
    if (lead.last_seen != 0 && gap > 0 && gap <= 4 * lead.interval)
        lead.spacing[lead.spacings++ % FbLead::n] = gap;
    lead.last_seen = seen;
    // Counters wrap into the ring's range, keeping "full" once full.
    if (lead.queries >= 2 * FbLead::n) lead.queries -= FbLead::n;
    if (lead.spacings >= 2 * FbLead::n) lead.spacings -= FbLead::n;
}

// Median of the first `count` values (upper middle for an even count); no allocation.
static std::int64_t fb_median(const std::int64_t* values, int count) {
    std::int64_t copy[FbLead::n];
    std::copy(values, values + count, copy);
    std::nth_element(copy, copy + count / 2, copy + count);
    return copy[count / 2];
}

std::int64_t fb_lead_estimate(const FbLead& lead) {
    if (lead.queries == 0) return 0;
    const int q = std::min(lead.queries, FbLead::n), s = std::min(lead.spacings, FbLead::n);
    const std::int64_t shown = s > 0 ? fb_median(lead.spacing, s) : lead.interval;
    return fb_median(lead.query_to_seen, q) + shown / 2;
}
