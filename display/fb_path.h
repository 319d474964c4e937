// How frames reach the screen: through the GPU, or written by the processor straight into the
// window's pixels when OpenGL would only run on a software rasteriser anyway.
#pragma once

enum class FbPath {
    software,     // convert and scale into the window surface, framebuffer acceleration off
    accelerated,  // a streaming texture drawn by SDL's accelerated renderer with vsync
};

// The environment variable that forces a path ("software" or "accelerated"), for diagnosis and
// tests; unset or empty chooses automatically.
inline constexpr const char* fb_path_variable = "VORTA_PRESENT";

// The path to try first. `forced`: the variable's value (null when unset); `driver`: SDL's video
// driver; `render_node`: whether the machine has a GPU render node. *bad_request is set when
// `forced` is neither empty nor one of the two names (it is then ignored).
FbPath fb_choose_path(const char* forced, const char* driver, int render_node, int* bad_request);
// Whether `forced` names the accelerated path, which is then kept even on a software rasteriser.
int fb_path_forced_accelerated(const char* forced);
// True when an OpenGL renderer string (GL_RENDERER) names a rasteriser that runs on the CPU.
int fb_gl_is_software(const char* renderer);
// Whether `dir` (normally /dev/dri) holds a GPU render node, renderD<n>. Opens no device.
int fb_render_node_present(const char* dir);
