// A helper the window tests run beside vorta.exe in the same Wine session, to do what a user does
// with the mouse:
//
//   wintool wait-window CLASS SECONDS   exit 0 once a visible window of CLASS exists, 1 if none
//   came wintool close CLASS                 post a close request to the window of CLASS; 1 if none
//   wintool dismiss-box SECONDS         wait for a message box, print its text and caption, press
//                                       its OK button; 1 if none came
//   wintool same-pcm RAW WAV SECONDS    0 when the 16-bit stereo frames in RAW, from its first
//                                       non-silent frame on, equal the WAV's from its first
//                                       non-silent frame on, over at least SECONDS at 44100 Hz
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

std::vector<std::uint32_t> read_frames(const char* path, long skip_bytes) {
    std::vector<std::uint32_t> frames;
    FILE* f = std::fopen(path, "rb");
    if (!f) return frames;
    std::fseek(f, skip_bytes, SEEK_SET);
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

// Compares what a sound device wrote with the offline decode, both from their first sound on.
int same_pcm(const char* raw_path, const char* wav_path, double seconds) {
    const std::vector<std::uint32_t> raw = read_frames(raw_path, 0);
    const std::vector<std::uint32_t> wav = read_frames(wav_path, 44);  // after the 44-byte header
    const std::size_t r0 = first_sound(raw), w0 = first_sound(wav);
    const std::size_t r_len = raw.size() - r0, w_len = wav.size() - w0;
    const std::size_t n = r_len < w_len ? r_len : w_len;
    std::printf("written: %zu frames, sound from frame %zu; offline: %zu frames, sound from %zu\n",
                raw.size(), r0, wav.size(), w0);
    for (std::size_t i = 0; i < n; i++) {
        if (raw[r0 + i] != wav[w0 + i]) {
            std::printf("first difference %zu frames (%.3f s) into the sound: %08x, offline %08x\n",
                        i, i / 44100.0, raw[r0 + i], wav[w0 + i]);
            return 1;
        }
    }
    std::printf("%zu frames (%.3f s) identical\n", n, n / 44100.0);
    return n >= static_cast<std::size_t>(seconds * 44100) ? 0 : 1;
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
        return same_pcm(argv[2], argv[3], std::atof(argv[4]));
    }
    std::fprintf(
        stderr,
        "usage: wintool wait-window CLASS S | close CLASS | dismiss-box S | same-pcm RAW WAV S\n");
    return 2;
}
