// vorta-capture as a program: exit statuses, byte-identical reruns, the song's exact length,
// agreement with the live per-frame pass, and the video ffmpeg makes of it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/frame.h"
#include "driver/sync.h"

namespace {

constexpr std::size_t frame_bytes = 320 * 240 * 4;
constexpr std::uint64_t row_samples = 2625;  // 3 ticks at 126 BPM: 3 × 2.5 / 126 s × 44100

// Every folder made by temp_dir, removed with its contents when the test program ends.
struct Scratch {
    std::vector<std::string> dirs;
    ~Scratch() {
        std::error_code ignored;
        for (const std::string& d : dirs) std::filesystem::remove_all(d, ignored);
    }
} scratch;

std::string temp_dir() {
    std::string dir = testing::TempDir() + "capture_cli_XXXXXX";
    EXPECT_NE(mkdtemp(dir.data()), nullptr);
    scratch.dirs.push_back(dir);
    return dir;
}

// Runs the tool with `args` (already shell-quoted), its stderr in *err. Returns the exit status.
// `prefix` is shell text put before the command (variables, ulimit).
int run(const std::string& args, std::string* err = nullptr, const std::string& prefix = "") {
    const std::string err_path = temp_dir() + "/stderr.txt";
    const std::string cmd = prefix + " " VORTA_CAPTURE_EXE " " + args + " 2>" + err_path;
    const int status = std::system(cmd.c_str());
    std::ifstream in(err_path);
    std::stringstream text;
    text << in.rdbuf();
    if (err) *err = text.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return v;
}

TEST(CaptureCli, BadArgumentsExitTwoWithUsage) {
    for (const char* args : {"", "--fps 0 --raw x", "--raw", "--from 5 --to 4 --raw x",
                             "--scale 99 --video x.mp4", "--wat --raw x", "--from 1e3 --raw x"}) {
        std::string err;
        EXPECT_EQ(run(args, &err), 2) << args;
        EXPECT_NE(err.find("usage: vorta-capture"), std::string::npos) << args << ": " << err;
    }
    // A range that starts after the song's end is only found out by playing: still exit 2.
    std::string err;
    EXPECT_EQ(run("--from 200 --raw /dev/null", &err), 2);
    EXPECT_NE(err.find("no frame"), std::string::npos) << err;
    EXPECT_EQ(run("--help", &err), 0);
}

bool have_dev_full() {
    struct stat st {};
    return stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode);
}

TEST(CaptureCli, WriteFailuresExitOneWithAMessage) {
    const std::string dir = temp_dir();
    // A disk that is full after 10 KiB (a file-size limit, SIGXFSZ ignored so that writes fail
    // with EFBIG as on a full disk), then /dev/full itself where the system has it.
    const std::string small_disk = "trap '' XFSZ; ulimit -f 20;";
    std::vector<std::pair<std::string, std::string>> cases = {
        {small_disk, "--from 30 --to 30.5 --raw " + dir + "/x.raw"},
        {small_disk, "--from 30 --to 30.5 --wav " + dir + "/x.wav"},
        {small_disk, "--from 30 --to 30.5 --sheet " + dir + "/x.png"},
        {small_disk, "--from 30 --to 30.1 --png " + dir + "/frames"},
        {small_disk, "--assets " + dir + "/pictures"},
        {"", "--from 30 --to 30.1 --raw " + dir + "/no/such/folder/x.raw"},
        {"", "--from 30 --to 30.1 --png /proc/version/frames"},
    };
    if (have_dev_full()) {
        for (const char* out : {"--raw", "--wav", "--sheet"}) {
            cases.push_back({"", std::string("--from 30 --to 30.5 ") + out + " /dev/full"});
        }
    }
    for (const auto& [prefix, args] : cases) {
        std::string err;
        EXPECT_EQ(run(args, &err, prefix), 1) << prefix << args;
        EXPECT_NE(err.find("vorta-capture: "), std::string::npos) << args << ": " << err;
        EXPECT_EQ(err.find("usage"), std::string::npos) << args << ": " << err;
    }
}

TEST(CaptureCli, MissingFfmpegExitsOne) {
    std::string err;
    EXPECT_EQ(run("--from 30 --to 30.1 --video x.mp4", &err, "PATH=/nonexistent"), 1);
    EXPECT_NE(err.find("ffmpeg"), std::string::npos) << err;
}

TEST(CaptureCli, TwoCapturesOfARangeAreByteIdentical) {
    const std::string dir = temp_dir();
    const std::string common = " --from 30 --to 32 --fps 60";
    ASSERT_EQ(run(common + " --raw " + dir + "/a.raw --wav " + dir + "/a.wav --png " + dir + "/a"),
              0);
    ASSERT_EQ(run(common + " --raw " + dir + "/b.raw --wav " + dir + "/b.wav"), 0);
    const std::string raw = slurp(dir + "/a.raw"), wav = slurp(dir + "/a.wav");
    EXPECT_EQ(raw.size(), 120 * frame_bytes);  // 2 s at 60 fps
    EXPECT_EQ(wav.size(), 44 + 88200u * 4);    // 2 s of stereo frames
    EXPECT_TRUE(raw == slurp(dir + "/b.raw"));
    EXPECT_TRUE(wav == slurp(dir + "/b.wav"));
    // Frame PNGs are numbered from the start of the range.
    EXPECT_TRUE(access((dir + "/a/frame_00000.png").c_str(), R_OK) == 0);
    EXPECT_TRUE(access((dir + "/a/frame_00119.png").c_str(), R_OK) == 0);
    EXPECT_FALSE(access((dir + "/a/frame_00120.png").c_str(), R_OK) == 0);
}

TEST(CaptureCli, TheWholeSongIsExactlyItsLengthInSamples) {
    const std::string dir = temp_dir();
    // One frame a second: frame 137 is at 6,041,700 < 6,048,000, frame 138 would be past it.
    ASSERT_EQ(run("--fps 1 --wav " + dir + "/song.wav --raw " + dir + "/song.raw"), 0);
    const std::string song = slurp(dir + "/song.wav");
    ASSERT_EQ(song.size(), 44 + 6048000u * 4);
    EXPECT_EQ(song.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(song, 4), 36 + 6048000u * 4);
    EXPECT_EQ(song.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(song, 20), 1u | 2u << 16);  // PCM, 2 channels
    EXPECT_EQ(le32(song, 24), 44100u);
    EXPECT_EQ(le32(song, 28), 176400u);
    EXPECT_EQ(le32(song, 32), 4u | 16u << 16);  // 4 bytes a frame, 16 bits a sample
    EXPECT_EQ(song.substr(36, 4), "data");
    EXPECT_EQ(le32(song, 40), 6048000u * 4);
    EXPECT_EQ(slurp(dir + "/song.raw").size(), 138 * frame_bytes);
    EXPECT_NE(song.find_first_not_of('\0', 44), std::string::npos) << "the song is silent";

    // A range's sound is the same stretch of the song, sample for sample, whatever the fps.
    ASSERT_EQ(run("--fps 7 --from 30.1 --to 32.25 --wav " + dir + "/part.wav"), 0);
    const std::string part = slurp(dir + "/part.wav");
    const std::size_t from = 1327410, to = 1422225;  // 30.1 × 44100 and 32.25 × 44100
    ASSERT_EQ(part.size(), 44 + (to - from) * 4);
    EXPECT_TRUE(part.compare(44, std::string::npos, song, 44 + from * 4, (to - from) * 4) == 0);
}

// The show's clock worked out on its own: the module's order list, its pattern lengths and the
// sync marks it carries, each row 2625 samples long.
constexpr int order_pattern[20] = {0, 1, 2, 3, 4, 4, 5, 5, 6, 7, 8, 9, 10, 6, 5, 5, 5, 11, 6, 12};
int order_rows(int order) {
    const int p = order_pattern[order];
    return p == 6 || p == 12 ? 64 : 128;
}

// The position value of the row containing `sample`, scaler 256.
std::uint32_t position_at(std::uint64_t sample) {
    std::uint64_t row = sample / row_samples;
    const auto fraction = static_cast<std::uint32_t>(256 * (sample % row_samples) / row_samples);
    int order = 0;
    while (order < 19 && row >= static_cast<std::uint64_t>(order_rows(order))) {
        row -= static_cast<std::uint64_t>(order_rows(order++));
    }
    return static_cast<std::uint32_t>(order) | (static_cast<std::uint32_t>(row) * 256 + fraction)
                                                   << 16;
}

bool in(int v, std::initializer_list<int> set) {
    for (int x : set) {
        if (x == v) return true;
    }
    return false;
}

// Calls sync_event_proc for every mark of (order, row), as the module holds them.
void deliver_marks(int order, int row) {
    const auto mark = [](std::uint32_t d) { sync_event_proc(0, d, 0); };
    const bool flashes_4_5 = in(order, {4, 5}), beats = in(order, {6, 7, 14, 15, 16, 17});
    if (flashes_4_5 && in(row, {0, 12, 20, 32, 44, 52, 64, 76, 84})) mark(255);
    if (beats && in(row, {0, 32, 64, 96})) mark(255);
    if (beats && in(row, {0, 12, 20, 32, 44, 52, 64, 76, 84, 96, 108, 116})) mark(254);
    if (in(order, {4, 5, 6, 7, 14, 15, 16})) {
        const int rows[4] = {0, 12, 20, 32};
        for (int v = 0; v < 4; ++v) {
            if (row == rows[v]) mark(static_cast<std::uint32_t>(v));
        }
    }
    if (order == 12) {
        const int rows[8] = {0, 14, 24, 32, 64, 78, 88, 96};
        for (int v = 0; v < 8; ++v) {
            if (row == rows[v]) mark(static_cast<std::uint32_t>(v));
        }
    }
}

// Streams the tool's --raw output and checks every frame against demo_frame driven here with
// the independent clock above. Returns the number of frames compared.
int compare_with_live(std::uint32_t fps, const char* range, std::uint64_t from_sample) {
    const std::string cmd = std::string(VORTA_CAPTURE_EXE " --raw /dev/stdout --fps ") +
                            std::to_string(fps) + " " + range;
    std::FILE* pipe = popen(cmd.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (!pipe) return 0;

    static Pixel32 captured[320 * 240];
    demo_reset();
    std::uint64_t next_row = 0;  // the first row whose marks are still to come
    int order = 0, row = 0, compared = 0, mismatches = 0;
    for (std::uint64_t k = 0;; ++k) {
        const std::uint64_t s = k * 44100 / fps;
        if (s >= 2304 * row_samples) break;  // the song is 2304 rows long
        for (; next_row * row_samples <= s; ++next_row) {
            deliver_marks(order, row);
            if (++row == order_rows(order)) {
                row = 0;
                ++order;
            }
        }
        demo_frame(position_at(s));
        if (s < from_sample) continue;
        if (std::fread(captured, sizeof captured, 1, pipe) != 1) break;  // the range has ended
        ++compared;
        if (std::memcmp(captured, framebuffer, sizeof captured) != 0 && ++mismatches <= 5) {
            ADD_FAILURE() << "frame " << k << " (sample " << s << ", position 0x" << std::hex
                          << position_at(s) << std::dec << ") differs at " << fps << " fps";
        }
    }
    // The tool has nothing more to give once this side ran out of song or range.
    EXPECT_EQ(std::fread(captured, 1, sizeof captured, pipe), 0u);
    EXPECT_EQ(pclose(pipe), 0);
    return compared;
}

TEST(CaptureCli, FramesAgreeWithTheLivePassOverTheWholeSong) {
    // 24 fps puts frames at fractional samples (1837.5 apart) that floor one way or the other.
    EXPECT_EQ(compare_with_live(24, "", 0), 3292);  // frame 3291 is at sample 6,047,212
}

TEST(CaptureCli, FramesAgreeWithTheLivePassInARange) {
    // Across the start of the second half: the fade-in, the beat reset, the first flashes.
    EXPECT_EQ(compare_with_live(60, "--from 64.5 --to 65.5", 2844450), 60);
}

// Runs ffprobe on `path` and returns its key=value output.
std::string probe(const std::string& what, const std::string& path) {
    const std::string cmd = "ffprobe -v error " + what + " -of default=noprint_wrappers=1 " + path;
    std::FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    pclose(pipe);
    return out;
}

TEST(CaptureCli, VideoHasTheExpectedSizeFramesAndDuration) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
    const std::string dir = temp_dir(), video = dir + "/show.mp4";
    ASSERT_EQ(run("--fps 30 --from 30 --to 31.5 --scale 2 --video " + video), 0);
    const std::string v = probe(
        "-count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,pix_fmt,nb_read_frames",
        video);
    EXPECT_NE(v.find("codec_name=h264"), std::string::npos) << v;
    EXPECT_NE(v.find("width=640\nheight=480"), std::string::npos) << v;
    EXPECT_NE(v.find("pix_fmt=yuv420p"), std::string::npos) << v;
    EXPECT_NE(v.find("nb_read_frames=45"), std::string::npos) << v;
    const std::string a =
        probe("-select_streams a:0 -show_entries stream=codec_name,sample_rate", video);
    EXPECT_NE(a.find("codec_name=aac"), std::string::npos) << a;
    EXPECT_NE(a.find("sample_rate=44100"), std::string::npos) << a;
    const std::string f = probe("-show_entries format=duration", video);
    const double duration = std::atof(f.c_str() + f.find('=') + 1);
    EXPECT_NEAR(duration, 1.5, 0.05) << f;  // AAC priming may add a few milliseconds

    // A video that cannot be written is an error, not a short file.
    std::string err;
    EXPECT_EQ(run("--fps 30 --from 30 --to 30.2 --video " + dir + "/small.mp4", &err,
                  "trap '' XFSZ; ulimit -f 20;"),
              1);
    EXPECT_NE(err.find("vorta-capture: "), std::string::npos) << err;
    if (have_dev_full()) {
        EXPECT_EQ(run("--fps 30 --from 30 --to 30.2 --video /dev/full", &err), 1);
        EXPECT_NE(err.find("vorta-capture: "), std::string::npos) << err;
    }
}

}  // namespace
