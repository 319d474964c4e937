// A position value unpacked into order, row and song time.
#include "driver/music_position.h"

MusicPosition music_position(std::uint32_t position) {
    MusicPosition c;
    c.order = static_cast<std::int32_t>(position & 0xFFFF);
    c.row = static_cast<float>(position >> 16) * 0.00390625f;  // ÷ 256: the scaler's fraction
    // Every pattern counts as 128 rows long; after a 64-row pattern the time jumps by 64, and
    // the camera path simply carries on from there.
    c.time = static_cast<float>(c.order * 128) + c.row;
    return c;
}
