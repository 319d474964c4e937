// Control of the fake "ddraw.dll" that the DirectDraw display tests put beside their program: what
// it refuses, what it reports, and the calls it has seen.
#pragma once

#include <cstdint>

#ifdef FAKE_DDRAW_BUILD
#define FAKE_DDRAW_API extern "C" __declspec(dllexport)
#else
#define FAKE_DDRAW_API extern "C" __declspec(dllimport)
#endif

// What the fake display accepts. Zero-initialised, it accepts everything: every mode, two back
// buffers, locks, and reports the pixel format of the mode set (32: 0xFF0000/0xFF00/0xFF,
// 24: the same masks, 16: 565).
struct FakeDDrawConfig {
    int refuse_create;              // DirectDrawCreate fails
    int refuse_cooperative;         // SetCooperativeLevel with the exclusive flags fails
    int refused_bits[3];            // SetDisplayMode fails for these bit depths (0 = unused slot)
    int max_back_buffers;           // 2 (0 means 2), 1, or -1: only a lone primary is created
    int refuse_every_surface;       // CreateSurface always fails
    int override_format;            // report `format_*` below instead of the mode's own format
    std::uint32_t format_flags;     // DDPIXELFORMAT.dwFlags
    std::uint32_t format_bits;      // dwRGBBitCount
    std::uint32_t format_masks[3];  // red, green, blue
    int failed_locks;               // this many Lock calls fail, then they succeed
    int pitch;                      // bytes between rows of the back buffer (0: 2048)
};

// Starts afresh with `config`: the log is emptied and no object exists.
FAKE_DDRAW_API void fake_ddraw_reset(const FakeDDrawConfig* config);
// Every call seen since the reset, one per line, e.g. "SetDisplayMode 320x240x32 -> refused".
FAKE_DDRAW_API const char* fake_ddraw_log();
// The back buffer's bytes (rows `pitch` apart), the bit depth of the mode set, and how many
// DirectDraw objects and surfaces are alive.
FAKE_DDRAW_API const std::uint8_t* fake_ddraw_back_buffer();
FAKE_DDRAW_API int fake_ddraw_mode_bits();
FAKE_DDRAW_API int fake_ddraw_live_objects();
// The window handed to SetCooperativeLevel, or 0.
FAKE_DDRAW_API void* fake_ddraw_window();
