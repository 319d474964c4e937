// A helper the window tests run beside vorta.exe in the same Wine session, to do what a user does
// with the mouse:
//
//   wintool wait-window CLASS SECONDS   exit 0 once a visible window of CLASS exists, 1 if none
//   came wintool close CLASS                 post a close request to the window of CLASS; 1 if none
//   wintool dismiss-box SECONDS         wait for a message box, print its text and caption, press
//                                       its OK button; 1 if none came
//   wintool same-pcm RAW SECONDS GAP    0 when the 16-bit stereo frames in RAW, from its first
//                                       non-silent frame on, are the song as this build decodes
//                                       it offline, over at least SECONDS at 44100 Hz, with at
//                                       most GAP seconds of silence let in between them
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "assets/assets.h"
#include "sound/bassmod.h"

namespace {

// Message boxes are dialogs of the system's dialog class.
constexpr const char* dialog_class = "#32770";

// Polls for a top-level window of `cls` for up to `seconds`.
HWND wait_for(const char* cls, double seconds) {
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        HWND w = FindWindowA(cls, nullptr);
        if (w && IsWindowVisible(w)) return w;
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK print_static(HWND child, LPARAM) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (_stricmp(cls, "Static") != 0) return TRUE;
    char text[512] = {};
    GetWindowTextA(child, text, sizeof text);
    if (text[0]) std::printf("text: %s\n", text);
    return TRUE;
}

std::vector<std::uint32_t> read_frames(const char* path) {
    std::vector<std::uint32_t> frames;
    FILE* f = std::fopen(path, "rb");
    if (!f) return frames;
    std::uint32_t buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 4, 4096, f)) > 0) frames.insert(frames.end(), buf, buf + n);
    std::fclose(f);
    return frames;
}

std::size_t first_sound(const std::vector<std::uint32_t>& frames) {
    std::size_t i = 0;
    while (i < frames.size() && frames[i] == 0) i++;
    return i;
}

void collect(const std::int16_t* frames, std::uint32_t count, void* user) {
    auto* out = static_cast<std::vector<std::uint32_t>*>(user);
    const auto* words = reinterpret_cast<const std::uint32_t*>(frames);
    out->insert(out->end(), words, words + count);
}

// The whole song as this build's sound layer decodes it offline, one word per stereo frame.
std::vector<std::uint32_t> offline_song() {
    std::vector<std::uint32_t> song;
    if (BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0) != 1 ||
        BASSMOD_MusicLoad(1, module_image, 0, module_length, 0) != 1) {
        return song;
    }
    sound_offline_set_pcm_sink(collect, &song);
    BASSMOD_MusicPlay();
    for (std::uint64_t sample = 0; sound_offline_advance(sample); sample += 44100) {
    }
    BASSMOD_Free();
    return song;
}

// Compares what a sound device wrote with the offline decode, both from their first sound on.
// A device that ran dry wrote silence between two samples of the song; such gaps are counted
// and reported, and every sample of the song must still be there, in order and unchanged.
int same_pcm(const char* raw_path, double seconds, double max_gap_seconds) {
    const std::vector<std::uint32_t> raw = read_frames(raw_path);
    const std::vector<std::uint32_t> wav = offline_song();
    std::size_t r = first_sound(raw), w = first_sound(wav);
    std::printf("written: %zu frames, sound from frame %zu; offline: %zu frames, sound from %zu\n",
                raw.size(), r, wav.size(), w);
    std::size_t gaps = 0, gap_frames = 0;
    while (r < raw.size() && w < wav.size()) {
        if (raw[r] == wav[w]) {
            r++, w++;
            continue;
        }
        // Silence where the song has sound: the device ran dry. Skip it, then the song goes on.
        std::size_t z = r;
        while (z < raw.size() && raw[z] == 0) z++;
        if (z == r || (z < raw.size() && raw[z] != wav[w])) {
            std::printf("first difference %zu frames (%.3f s) into the song: %08x, offline %08x\n",
                        w, w / 44100.0, raw[r], wav[w]);
            return 1;
        }
        gaps++;
        gap_frames += z - r;
        r = z;
    }
    const double matched = w / 44100.0, gap_s = gap_frames / 44100.0;
    std::printf("%zu frames (%.3f s) of the song identical; %zu gaps of silence, %.3f s\n", w,
                matched, gaps, gap_s);
    return matched >= seconds && gap_s <= max_gap_seconds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "wait-window") == 0) {
        return wait_for(argv[2], std::atof(argv[3])) ? 0 : 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "close") == 0) {
        HWND w = FindWindowA(argv[2], nullptr);
        if (!w) return 1;
        return PostMessageA(w, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "dismiss-box") == 0) {
        HWND box = wait_for(dialog_class, std::atof(argv[2]));
        if (!box) return 1;
        char caption[256] = {};
        GetWindowTextA(box, caption, sizeof caption);
        std::printf("caption: %s\n", caption);
        EnumChildWindows(box, print_static, 0);
        std::fflush(stdout);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return 0;
    }
    if (argc >= 5 && std::strcmp(argv[1], "same-pcm") == 0) {
        return same_pcm(argv[2], std::atof(argv[3]), std::atof(argv[4]));
    }
    std::fprintf(stderr,
                 "usage: wintool wait-window CLASS S | close CLASS | dismiss-box S | same-pcm RAW "
                 "WAV S GAP\n");
    return 2;
}
