// The sound layer brought up for the show. Its callers link a sound layer and an asset block.
#include "driver/show_sound.h"

#include "assets/assets.h"

int show_load() {
    return BASSMOD_MusicLoad(BASSMOD_LOAD_MEMORY, module_image, 0, module_length, 0) == 1 ? 1 : 0;
}

int show_open_offline(std::uint32_t rate) {
    if (BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, rate, 0) == 1 && show_load()) return 1;
    BASSMOD_Free();
    return 0;
}

void show_play(SYNCPROC on_mark) {
    if (on_mark) BASSMOD_MusicSetSync(BASSMOD_SYNC_MARK, BASSMOD_SYNC_MARK_DATA, on_mark, 0);
    BASSMOD_MusicSetPositionScaler(show_position_scale);
    BASSMOD_MusicPlay();
}
