// vorta-capture as a program: exit statuses, byte-identical reruns, the song's exact length,
// agreement with the live per-frame pass, and the video ffmpeg makes of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/frame.h"
#include "driver/sync.h"
#include "tests/capture/scratch.h"
#include "tests/data/song_marks.h"

namespace {

constexpr std::size_t frame_bytes = 320 * 240 * 4;
constexpr std::uint64_t row_samples = 2625;  // 3 ticks at 126 BPM: 3 × 2.5 / 126 s × 44100

// Runs the tool with `args` (shell text) after `prefix` (variables, ulimit), its stderr in
// *err. Returns the exit status.
int run(const std::string& args, std::string* err = nullptr, const std::string& prefix = "") {
    const std::string err_path = temp_dir() + "/stderr.txt";
    const int status =
        std::system((prefix + " " VORTA_CAPTURE_EXE " " + args + " 2>" + err_path).c_str());
    if (err) *err = slurp(err_path);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CaptureCli, BadArgumentsExitTwoWithUsage) {
    std::string err;
    for (const char* args :
         {"", "--fps 60", "--raw", "--raw ''", "--raw x --bogus 1", "--raw x stray",
          "--raw x --fps 0", "--raw x --fps 1001", "--raw x --fps 6o", "--raw x --scale 0",
          "--video x.mp4 --scale 9", "--raw x --from -3", "--raw x --from 1e3",
          "--raw x --from 32 --to 30", "--raw x --from 30 --to 30"}) {
        EXPECT_EQ(run(args, &err), 2) << args;
        EXPECT_NE(err.find("usage: vorta-capture"), std::string::npos) << args << ": " << err;
    }
    // A range that starts after the song's end is only found out by playing: still exit 2.
    EXPECT_EQ(run("--from 200 --raw /dev/null", &err), 2);
    EXPECT_NE(err.find("no frame"), std::string::npos) << err;
    EXPECT_EQ(run("--help"), 0);
}

// Every name in `dir`, hidden ones included, sorted; a missing folder lists as "(none)".
std::string listing(const std::string& dir) {
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir, error)) {
        names.push_back(e.path().filename().string());
    }
    if (error) return "(none)";
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += n + " ";
    return out;
}

// A folder `dir` holding x.raw, x.wav and x.png from an earlier run.
void earlier_files(const std::string& dir) {
    for (const char* name : {"/x.raw", "/x.wav", "/x.png"}) {
        std::ofstream(dir + name) << "earlier";
    }
}

// 1 when x.raw, x.wav and x.png in `dir` are still the earlier ones and nothing else is there.
::testing::AssertionResult only_earlier_files(const std::string& dir) {
    if (listing(dir) != "x.png x.raw x.wav ") {
        return ::testing::AssertionFailure() << "left in " << dir << ": " << listing(dir);
    }
    for (const char* name : {"/x.raw", "/x.wav", "/x.png"}) {
        if (slurp(dir + name) != "earlier") return ::testing::AssertionFailure() << name;
    }
    return ::testing::AssertionSuccess();
}

// A tmpfs of `size` mounted on a fresh folder for the test's life; empty path when this process
// may not mount (not root).
struct Tmpfs {
    std::string path;
    explicit Tmpfs(const char* options) {
        const std::string dir = temp_dir();
        if (std::system(
                ("mount -t tmpfs -o " + std::string(options) + " tmpfs " + dir + " 2>/dev/null")
                    .c_str()) == 0) {
            path = dir;
        }
    }
    ~Tmpfs() {
        if (!path.empty()) std::system(("umount " + path).c_str());
    }
};

TEST(CaptureCli, FailuresExitWithAMessageAndLeaveEarlierFilesAsTheyWere) {
    const std::string range = "--from 30 --to 30.5 ";
    // A disk that is full after 10 KiB: a file-size limit, with SIGXFSZ left as it comes (it
    // would end the process unless the tool turns it into a failed write).
    const std::string small_disk = "ulimit -f 20;";
    struct Case {
        std::string prefix, args;  // $D in args: the case's own folder
        int status = 1;
        const char* says = "vorta-capture: ";
    };
    const Case cases[] = {
        {small_disk, range + "--raw $D/x.raw"},
        {small_disk, range + "--wav $D/x.wav"},
        // 1,808 bytes wait in the stdio buffer and pass the 512-byte limit only on closing.
        {"ulimit -f 1;", "--from 30 --to 30.01 --wav $D/x.wav"},
        {small_disk, range + "--sheet $D/x.png"},
        {small_disk, "--from 30 --to 30.1 --png $D/frames"},
        {small_disk, "--fps 30 --from 30 --to 30.2 --video $D/x.mp4"},
        {small_disk, "--assets $D/pictures"},
        {"", "--from 30 --to 30.1 --raw $D/no/such/folder/x.raw"},
        {"", "--from 30 --to 30.1 --png /proc/version/frames"},
        {"PATH=/nonexistent", "--from 30 --to 30.1 --png $D/a/b --video $D/x.mp4", 1, "ffmpeg"},
        // A range that fails only once played: no empty file of any output stays.
        {"", "--from 200 --raw $D/x.raw --wav $D/x.wav --png $D/f --sheet $D/x.png", 2, "no frame"},
    };
    for (const Case& c : cases) {
        const std::string dir = temp_dir();
        earlier_files(dir);
        std::string args = c.args, err;
        for (std::size_t at; (at = args.find("$D")) != std::string::npos;) args.replace(at, 2, dir);
        EXPECT_EQ(run(args, &err, c.prefix), c.status) << c.prefix << args << ": " << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << args << ": " << err;
        EXPECT_EQ(err.find("usage"), std::string::npos) << args << ": " << err;
        EXPECT_TRUE(only_earlier_files(dir)) << c.prefix << args;
    }
}

TEST(CaptureCli, AFullDiskLeavesNoFileThatLooksWhole) {
    const Tmpfs disk("size=2m");
    if (disk.path.empty()) GTEST_SKIP() << "cannot mount a tmpfs here";
    earlier_files(disk.path);
    const std::string d = disk.path;
    // 30 s of sound is 5.3 MB; 2 s of frames 37 MB; 0.5 s of PNG frames some 3 MB.
    for (const std::string& args :
         {"--to 30 --wav " + d + "/x.wav", "--from 30 --to 32 --raw " + d + "/x.raw",
          "--from 30 --to 30.5 --png " + d + "/frames",
          "--from 30 --to 32 --sheet " + d + "/x.png --raw " + d + "/y.raw"}) {
        std::string err;
        EXPECT_EQ(run(args, &err), 1) << args;
        EXPECT_NE(err.find("No space left"), std::string::npos) << args << ": " << err;
        EXPECT_TRUE(only_earlier_files(d)) << args;
    }
}

// Starts the tool with `args` and the stop signals at their defaults, stderr into `err_path`.
pid_t start(const std::string& args, const std::string& err_path, const std::string& env = "") {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    const std::string cmd = env + " exec " VORTA_CAPTURE_EXE " " + args + " 2>" + err_path;
    execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
    _exit(127);
}

// The exit status of `pid`, -1 when a signal ended it.
int wait_status(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CaptureCli, StopSignalsLeaveEarlierFilesAndNoTemporaries) {
    const bool ffmpeg = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    struct Case {
        int sig;
        std::string args;  // $D: the case's folder
    };
    const Case cases[] = {
        {SIGINT, "--raw $D/x.raw --wav $D/x.wav"},
        {SIGTERM, "--png $D/frames --sheet $D/x.png --raw $D/x.raw"},
        // The whole song into /dev/null takes well under a second at 60 fps: at 1000 fps it
        // still runs when the signal comes.
        {SIGHUP, "--fps 1000 --wav $D/x.wav --assets $D/pictures --raw /dev/null"},
        {SIGTERM, "--video $D/x.mp4 --wav $D/x.wav"},
        {SIGINT, "--video $D/x.mp4 --png $D/frames"},
    };
    for (const Case& c : cases) {
        if (!ffmpeg && c.args.find("--video") != std::string::npos) continue;
        const std::string dir = temp_dir(), tmp = temp_dir(), err = tmp + "/stderr.txt";
        earlier_files(dir);
        std::string args = c.args;
        for (std::size_t at; (at = args.find("$D")) != std::string::npos;) args.replace(at, 2, dir);
        const pid_t pid = start(args, err, "TMPDIR=" + tmp);
        // Stop it once its temporaries are there and growing.
        for (int i = 0; i < 100 && listing(dir) == "x.png x.raw x.wav "; ++i) usleep(20000);
        usleep(500000);
        kill(pid, c.sig);
        EXPECT_EQ(wait_status(pid), 128 + c.sig) << args;
        const std::string said = slurp(err);
        EXPECT_NE(said.find("stopped by SIG"), std::string::npos) << args << ": " << said;
        EXPECT_TRUE(only_earlier_files(dir)) << args;
        EXPECT_EQ(listing(tmp), "stderr.txt ") << "temporary files of the video stayed";
    }
}

TEST(CaptureCli, TwoRunsToTheSamePathsEachLeaveWholeFiles) {
    const std::string dir = temp_dir(), tmp = temp_dir();
    const std::string outs = " --raw " + dir + "/x.raw --wav " + dir + "/x.wav";
    // 10 s and 2 s at 5 fps, running at the same time; the longer output is done first, as
    // the shorter range lies further into the song.
    const pid_t a = start("--fps 5 --from 25 --to 35" + outs, tmp + "/a.txt");
    const pid_t b = start("--fps 5 --from 38 --to 40" + outs, tmp + "/b.txt");
    EXPECT_EQ(wait_status(a), 0) << slurp(tmp + "/a.txt");
    EXPECT_EQ(wait_status(b), 0) << slurp(tmp + "/b.txt");
    const std::size_t raw = slurp(dir + "/x.raw").size();
    EXPECT_TRUE(raw == 50 * frame_bytes || raw == 10 * frame_bytes) << raw;
    const std::string wav = slurp(dir + "/x.wav");
    ASSERT_GE(wav.size(), 44u);
    std::uint32_t data = 0;
    std::memcpy(&data, wav.data() + 40, 4);
    EXPECT_EQ(data, wav.size() - 44) << "the header does not count what the file holds";
    EXPECT_TRUE(data == 10 * 176400u || data == 2 * 176400u) << data;
    EXPECT_EQ(listing(dir), "x.raw x.wav ");
}

TEST(CaptureCli, SpecialFilesAreWrittenInPlaceAndNeverRemoved) {
    const std::string dir = temp_dir();
    // The kernel's full and null devices, made here so that /dev is never at stake.
    if (std::system(("mknod " + dir + "/full c 1 7 && mknod " + dir + "/null c 1 3 && mkfifo " +
                     dir + "/fifo 2>/dev/null")
                        .c_str()) != 0) {
        GTEST_SKIP() << "cannot make device nodes here";
    }
    const std::string full = dir + "/full", null = dir + "/null", range = "--from 30 --to 30.2 ";
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {range + "--sheet " + full, 1},
        {range + "--wav " + full, 1},
        {range + "--raw " + full, 1},
        {range + "--assets " + full, 1},
        {range + "--png " + full, 1},
        {range + "--raw " + null + " --wav " + null + " --sheet " + null, 0},
        // A reader that takes 1,000 bytes and goes: the pipe breaks, the FIFO stays.
        {range + "--raw " + dir + "/fifo & head -c 1000 " + dir + "/fifo >/dev/null; wait $!", 1},
    };
    for (const Case& c : cases) {
        std::string err;
        EXPECT_EQ(run(c.args, &err), c.status) << c.args << ": " << err;
        EXPECT_EQ(listing(dir), "fifo full null ") << c.args;
    }
    struct stat st = {};
    EXPECT_TRUE(stat(full.c_str(), &st) == 0 && S_ISCHR(st.st_mode));
    EXPECT_TRUE(stat((dir + "/fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    // Standard output takes a stream of frames or a whole file.
    EXPECT_EQ(run(range + "--wav - >" + dir + "/out.wav"), 0);
    EXPECT_EQ(slurp(dir + "/out.wav").size(), 44 + 8820u * 4);
}

TEST(CaptureCli, BadOutputPathsFailWithinASecond) {
    const Tmpfs read_only("ro,size=1m");
    const std::string dir = temp_dir();
    std::ofstream(dir + "/file") << "a file";
    std::vector<std::pair<std::string, std::string>> cases = {
        {"", "--video " + dir},  // a folder where a file is expected
        {"", "--sheet " + dir + "/"},
        {"", "--png " + dir + "/file"},  // a file where a folder is expected
        {"", "--wav " + dir + "/missing/x.wav"},
        {"", "--raw " + dir + "/x.raw --wav " + dir + "/x.raw"},  // one file for two outputs
        {"PATH=/nonexistent", "--video " + dir + "/x.mp4"},
    };
    if (!read_only.path.empty()) {
        cases.push_back({"", "--video " + read_only.path + "/v.mp4"});
        cases.push_back({"", "--sheet " + read_only.path + "/s.png"});
        cases.push_back({"", "--png " + read_only.path + "/frames"});
    }
    for (const auto& [prefix, args] : cases) {
        std::string err;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(run("--to 20 " + args, &err, prefix), 1) << args << ": " << err;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(seconds, 1.0) << args << ": the path was checked only after rendering";
        EXPECT_NE(err.find("vorta-capture: "), std::string::npos) << args;
    }
    EXPECT_EQ(listing(dir), "file ");
}

TEST(CaptureCli, TheSongIsExactlyItsLengthAndRerunsAreByteIdentical) {
    const std::string dir = temp_dir();
    // One frame a second: frame 137 is at 6,041,700 < 6,048,000, frame 138 would be past it.
    ASSERT_EQ(run("--fps 1 --wav " + dir + "/song.wav --raw " + dir + "/song.raw"), 0);
    const std::string song = slurp(dir + "/song.wav");
    ASSERT_EQ(song.size(), 44 + 6048000u * 4);
    EXPECT_EQ(song.substr(0, 44), song_wav_header);
    EXPECT_EQ(slurp(dir + "/song.raw").size(), 138 * frame_bytes);
    EXPECT_NE(song.find_first_not_of('\0', 44), std::string::npos) << "the song is silent";

    // A range off the frame grid (1764 samples apart at 25 fps), captured twice.
    const std::string range = " --fps 25 --from 30.1 --to 32.25";
    ASSERT_EQ(run(range + " --raw " + dir + "/a.raw --wav " + dir + "/a.wav --png " + dir + "/a"),
              0);
    ASSERT_EQ(run(range + " --raw " + dir + "/b.raw --wav " + dir + "/b.wav"), 0);
    const std::string raw = slurp(dir + "/a.raw"), wav = slurp(dir + "/a.wav");
    EXPECT_EQ(raw.size(), 54 * frame_bytes);  // frames 753 (sample 1,328,292) to 806
    EXPECT_TRUE(raw == slurp(dir + "/b.raw"));
    EXPECT_TRUE(wav == slurp(dir + "/b.wav"));
    // Its sound is that stretch of the song sample for sample, not snapped to frames.
    const std::size_t from = 1327410, to = 1422225;  // 30.1 × 44100 and 32.25 × 44100
    ASSERT_EQ(wav.size(), 44 + (to - from) * 4);
    EXPECT_TRUE(wav.compare(44, std::string::npos, song, 44 + from * 4, (to - from) * 4) == 0);
    // Frame PNGs are numbered from the start of the range.
    EXPECT_EQ(access((dir + "/a/frame_00000.png").c_str(), R_OK), 0);
    EXPECT_EQ(access((dir + "/a/frame_00053.png").c_str(), R_OK), 0);
    EXPECT_NE(access((dir + "/a/frame_00054.png").c_str(), R_OK), 0);
}

// The show's clock worked out on its own, from the song table the module and sound suites also
// check (tests/data/song_marks.txt): the order list, the rows of each order and the sync marks
// they carry, each row 2625 samples long.
const SongMarks& song() {
    static const SongMarks table = song_marks_read();
    return table;
}

// The position value of the row containing `sample`, scaler 256.
std::uint32_t position_at(std::uint64_t sample) {
    std::uint64_t row = sample / row_samples;
    const auto fraction = static_cast<std::uint32_t>(256 * (sample % row_samples) / row_samples);
    const std::vector<SongOrder>& orders = song().orders;
    std::uint32_t order = 0;
    while (order + 1 < orders.size() && row >= static_cast<std::uint64_t>(orders[order].rows)) {
        row -= static_cast<std::uint64_t>(orders[order++].rows);
    }
    return order | (static_cast<std::uint32_t>(row) * 256 + fraction) << 16;
}

// Calls sync_event_proc for every mark of (order, row), as the module holds them. Within a row
// the order does not matter: each value touches its own part of the sync state.
void deliver_marks(int order, int row) {
    for (int value : song().at(order, row))
        sync_event_proc(0, static_cast<std::uint32_t>(value), 0);
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
        if (s >= static_cast<std::uint64_t>(song().total_rows()) * row_samples) break;
        for (; next_row * row_samples <= s; ++next_row) {
            deliver_marks(order, row);
            if (++row == song().orders[order].rows) row = 0, ++order;
        }
        demo_frame(position_at(s));
        if (s < from_sample) continue;
        if (std::fread(captured, sizeof captured, 1, pipe) != 1) break;  // the range has ended
        ++compared;
        if (std::memcmp(captured, framebuffer, sizeof captured) != 0 && ++mismatches <= 5) {
            ADD_FAILURE() << "frame " << k << " (sample " << s << ") differs at " << fps << " fps";
        }
    }
    // The tool has nothing more to give once this side ran out of song or range.
    EXPECT_EQ(std::fread(captured, 1, sizeof captured, pipe), 0u);
    EXPECT_EQ(pclose(pipe), 0);
    return compared;
}

TEST(CaptureCli, FramesAgreeWithTheLivePass) {
    ASSERT_EQ(song().error, "");
    // The whole song at 24 fps puts frames at fractional samples (1837.5 apart) that floor one
    // way or the other; frame 3291 is at sample 6,047,212.
    EXPECT_EQ(compare_with_live(24, "", 0), 3292);
    // Across the start of the second half: the fade-in, the beat reset, the first flashes.
    EXPECT_EQ(compare_with_live(60, "--from 64.5 --to 65.5", 2844450), 60);
}

TEST(CaptureCli, VideoHasTheExpectedSizeFramesAndDuration) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
    const std::string video = temp_dir() + "/show.mp4";
    ASSERT_EQ(run("--fps 30 --from 30 --to 31.5 --scale 2 --video " + video), 0);
    // Both streams and the container in one listing of key=value lines.
    const std::string probe =
        "ffprobe -v error -count_frames -of default=noprint_wrappers=1 "
        "-show_entries stream=codec_name,width,height,pix_fmt,sample_rate,"
        "nb_read_frames:format=duration ";
    ASSERT_EQ(std::system((probe + video + " >" + video + ".txt").c_str()), 0);
    const std::string p = slurp(video + ".txt");
    for (const char* want : {"codec_name=h264", "width=640\nheight=480", "pix_fmt=yuv420p",
                             "nb_read_frames=45\n", "codec_name=aac", "sample_rate=44100"}) {
        EXPECT_NE(p.find(want), std::string::npos) << want << " in\n" << p;
    }
    // AAC priming may add a few milliseconds.
    const std::size_t at = p.find("duration=");
    ASSERT_NE(at, std::string::npos) << p;
    EXPECT_NEAR(std::atof(p.c_str() + at + 9), 1.5, 0.05) << p;
}

}  // namespace
