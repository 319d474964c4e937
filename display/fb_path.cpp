// Choosing the present path without loading a GL driver where the machine shows it has no GPU.
#include "display/fb_path.h"

#include <dirent.h>

#include <cstring>

static int fb_is(const char* a, const char* b) {
    return a && std::strcmp(a, b) == 0;
}

int fb_path_forced_accelerated(const char* forced) {
    return fb_is(forced, "accelerated");
}

FbPath fb_choose_path(const char* forced, const char* driver, int render_node, int* bad_request) {
    *bad_request = 0;
    if (fb_is(forced, "software")) return FbPath::software;
    if (fb_is(forced, "accelerated")) return FbPath::accelerated;
    *bad_request = forced && *forced;
    // Drivers that draw into memory have no GPU behind them.
    if (fb_is(driver, "dummy") || fb_is(driver, "offscreen")) return FbPath::software;
    // Without a render node, OpenGL could only be Mesa's software rasteriser.
    return render_node ? FbPath::accelerated : FbPath::software;
}

int fb_gl_is_software(const char* renderer) {
    if (!renderer) return 1;  // no answer: nothing says there is a GPU
    // Mesa's rasterisers on the CPU call themselves llvmpipe, softpipe or swrast ("Software
    // Rasterizer"); others say "software".
    static constexpr const char* names[] = {"llvmpipe", "softpipe", "swrast", "Software Rasterizer",
                                            "software"};
    for (const char* n : names) {
        if (std::strstr(renderer, n)) return 1;
    }
    return 0;
}

int fb_render_node_present(const char* dir) {
    DIR* d = opendir(dir);
    if (!d) return 0;
    int found = 0;
    while (const dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, "renderD", 7) == 0) found = 1;
    }
    closedir(d);
    return found;
}
