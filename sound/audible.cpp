// The audible-position model's arithmetic.
#include "sound/audible.h"

std::uint64_t audible_clock(std::uint32_t rate, std::int64_t ns) {
    if (ns <= 0) return 0;
    // Whole seconds and the rest apart, so that no run is long enough to overflow the product.
    const std::uint64_t s = static_cast<std::uint64_t>(ns) / 1000000000u;
    const std::uint64_t rest = static_cast<std::uint64_t>(ns) % 1000000000u;
    return s * rate + rest * rate / 1000000000u;
}

std::uint64_t audible_frame(const AudibleDevice& device, const AudibleStamp& stamp,
                            std::int64_t now_ns) {
    // The difference in unsigned arithmetic: any two clock readings give it without overflow.
    std::uint64_t since = now_ns > stamp.ns ? static_cast<std::uint64_t>(now_ns) -
                                                  static_cast<std::uint64_t>(stamp.ns)
                                            : 0;
    if (since > INT64_MAX) since = INT64_MAX;
    std::uint64_t ahead = audible_clock(device.rate, static_cast<std::int64_t>(since));
    // Nothing beyond the last buffer written can be heard: the callbacks come every period, so
    // only a device that has stopped asking for more gets here.
    const std::uint64_t written_ahead = std::uint64_t{device.queued} + device.period;
    if (ahead > written_ahead) ahead = written_ahead;
    const std::uint64_t heard = stamp.frames + ahead;
    return heard > device.queued ? heard - device.queued : 0;
}
