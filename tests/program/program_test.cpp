// The real program in a real window: each test starts its own X server and window manager, runs
// vorta with the x11 video driver and checks the picture on screen and every way out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Starts `argv` with this environment changed by `env` ("NAME=value" sets, "NAME" removes),
// stdout on `out` (-1: /dev/null) and stderr into `err_path`. The child is killed if this test
// process dies first, so no X server outlives a crashed test.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int out,
            const std::string& err_path) {
    std::vector<char*> a;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    const pid_t parent = getpid(), pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent is already gone
    // This test runs one thread, so the forked child may still allocate and change its environment.
    for (auto& s : env) s.find('=') == std::string::npos ? unsetenv(s.c_str()) : putenv(s.data());
    dup2(out >= 0 ? out : open("/dev/null", O_WRONLY), 1);
    dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    execvp(a[0], a.data());
    _exit(127);
}

// Waits up to `limit` for `pid` to end, kills it if it has not, and forgets it. Its exit status,
// -1 if it was still running, -2 when a signal ended it.
int finish(pid_t& pid, std::chrono::milliseconds limit) {
    int status = 0, done = 0;
    const auto end = Clock::now() + limit;
    while (!(done = waitpid(pid, &status, WNOHANG) == pid) && Clock::now() < end)
        std::this_thread::sleep_for(10ms);
    if (!done) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    pid = -1;
    return !done ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    return {std::istreambuf_iterator<char>(f), {}};
}

// The window named "vorta" on `display`, or 0. SDL may replace its first window when the renderer
// needs another visual, so callers look it up again before use.
Window find_vorta(const std::string& display) {
    FILE* p = popen(("DISPLAY=" + display + " xdotool search --name '^vorta$'").c_str(), "r");
    unsigned long w = 0;
    if (p && std::fscanf(p, "%lu", &w) != 1) w = 0;
    if (p) pclose(p);
    return w;
}

class Program : public ::testing::Test {
   protected:
    void SetUp() override {
        if (std::system("which Xvfb matchbox-window-manager xdotool >/dev/null") != 0)
            GTEST_SKIP() << "Xvfb, matchbox-window-manager or xdotool missing";
        err_ = testing::TempDir() + "vorta_program_" + std::to_string(getpid()) + ".stderr";
        // Xvfb takes a display number no other server holds and writes it once it listens.
        int fd[2];
        ASSERT_EQ(pipe2(fd, O_CLOEXEC), 0);
        xvfb_ =
            spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                  {}, fd[1], "/dev/null");
        close(fd[1]);
        // Xvfb writes the number and the newline separately, and dies if the second write finds
        // the pipe closed: read through the newline before closing it.
        std::string number;
        for (char c; number.size() < 16 && read(fd[0], &c, 1) == 1 && c != '\n';) number += c;
        close(fd[0]);
        ASSERT_FALSE(number.empty()) << "no X server could be started";
        name_ = std::string(":").append(number);  // append, not +: no GCC 12 -Wrestrict
        display_ = XOpenDisplay(name_.c_str());
        ASSERT_NE(display_, nullptr) << name_;
        // A window that vanishes between lookup and use must fail the check, not end the test.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        wm_ = spawn({"matchbox-window-manager", "-use_titlebar", "no"}, {"DISPLAY=" + name_}, -1,
                    "/dev/null");
        std::this_thread::sleep_for(300ms);  // let the window manager take over the root window
    }
    void TearDown() override {
        if (vorta_ > 0) finish(vorta_, 0ms);
        if (wm_ > 0) finish(wm_, 0ms);
        if (display_) XCloseDisplay(display_);
        if (xvfb_ > 0) kill(xvfb_, SIGTERM), finish(xvfb_, 3000ms);
        std::remove(err_.c_str());
    }

    // Starts vorta on this test's server with the x11 video driver, silent sound and `env`
    // added, and waits for its window; 0 when none appeared. The leak check is off in sanitizer
    // builds: D-Bus and the GL driver, loaded by SDL, keep allocations until exit.
    Window start_vorta(std::vector<std::string> env = {}) {
        env.insert(env.end(), {"DISPLAY=" + name_, "SDL_VIDEODRIVER", "SDL_AUDIODRIVER=dummy",
                               "LSAN_OPTIONS=detect_leaks=0"});
        vorta_ = spawn({VORTA_EXE}, env, -1, err_);
        for (auto end = Clock::now() + 10s; Clock::now() < end; std::this_thread::sleep_for(50ms)) {
            if (Window w = find_vorta(name_)) return w;
            if (waitpid(vorta_, nullptr, WNOHANG) == vorta_) return vorta_ = -1, 0;
        }
        return 0;
    }

    // What the screen shows, against a 320 × 240 picture scaled 4 times into 1280 × 1024.
    struct Screen {
        int lit = 0;              // framebuffer pixels (block corners) that are not black
        int bars = 0;             // pixels of the bars above and below that are not black
        int blurred = 0;          // pixels that differ from the corner of their 4 × 4 block
        int top = 0, bottom = 0;  // lit pixels on the picture's first and last rows
    };
    Screen grab() {
        Screen s;
        XImage* img =
            XGetImage(display_, DefaultRootWindow(display_), 0, 0, 1280, 1024, AllPlanes, ZPixmap);
        if (!img) return s;
        auto at = [&](int x, int y) { return XGetPixel(img, x, y) & 0xFFFFFF; };
        // 1280 × 1024 holds 320 × 240 four times over (1280 × 960): rows 32 to 991.
        for (int y = 0; y < 1024; y++) {
            for (int x = 0; x < 1280; x++) {
                const unsigned long c = at(x, y);
                const bool bar = y < 32 || y >= 992, corner = x % 4 == 0 && y % 4 == 0;
                s.bars += bar && c != 0;
                s.lit += !bar && corner && c != 0;
                // Crisp: every framebuffer pixel is a uniform 4 × 4 block, never blended.
                s.blurred += !bar && c != at(x & ~3, y & ~3);
                s.top += y == 32 && c != 0;
                s.bottom += y == 991 && c != 0;
            }
        }
        XDestroyImage(img);
        return s;
    }
    // Grabs until most of the picture is lit (the show fades in from black), at most `limit`.
    Screen grab_lit(std::chrono::milliseconds limit) {
        Screen s;
        for (auto end = Clock::now() + limit; s.lit <= 320 * 240 / 2 && Clock::now() < end;) {
            std::this_thread::sleep_for(250ms);
            s = grab();
        }
        return s;
    }
    void expect_picture(const Screen& s) {
        EXPECT_GT(s.lit, 320 * 240 / 2) << "the picture stayed dark";
        EXPECT_EQ(s.bars, 0) << "bars are not black";
        EXPECT_GT(s.top, 0) << "the picture does not reach the top bar";
        EXPECT_GT(s.bottom, 0) << "the picture does not reach the bottom bar";
        EXPECT_EQ(s.blurred, 0) << "pixels differ inside 4 × 4 blocks";
    }

    std::string err_, name_;
    Display* display_ = nullptr;
    pid_t xvfb_ = -1, wm_ = -1, vorta_ = -1;
};

// The mapped objects of process `pid` whose file names contain `part`.
int maps_containing(pid_t pid, const std::string& part) {
    const std::string maps = read_file("/proc/" + std::to_string(pid) + "/maps");
    int n = 0;
    for (auto at = maps.find(part); at != std::string::npos; at = maps.find(part, at + 1)) n++;
    return n;
}

// On both present paths: "" chooses by itself (here, with no GPU, the processor writes the
// window's pixels), "accelerated" forces the GPU renderer (here OpenGL on the CPU).
class ProgramPaths : public Program, public ::testing::WithParamInterface<const char*> {};

TEST_P(ProgramPaths, ShowsTheFrameCrispAndLetterboxedAndAgainAfterBeingMinimised) {
    const std::string path = GetParam();
    ASSERT_NE(start_vorta({path.empty() ? "VORTA_PRESENT" : "VORTA_PRESENT=" + path}), 0u)
        << read_file(err_);
    expect_picture(grab_lit(8s));
    if (path.empty() && std::system("ls /dev/dri/renderD* >/dev/null 2>&1") != 0) {
        // Without a GPU no OpenGL driver is even loaded.
        EXPECT_EQ(maps_containing(vorta_, "libGL"), 0);
        EXPECT_EQ(maps_containing(vorta_, "_dri.so"), 0);
    }
    // Minimised, the show runs on unseen; restored, the whole window is drawn again.
    const std::string xdotool = "DISPLAY=" + name_ + " xdotool ";
    const std::string id = std::to_string(find_vorta(name_));
    ASSERT_EQ(std::system((xdotool + "windowminimize " + id).c_str()), 0);
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(waitpid(vorta_, nullptr, WNOHANG), 0) << "vorta ended while minimised";
    ASSERT_EQ(std::system((xdotool + "windowactivate " + id).c_str()), 0);
    expect_picture(grab_lit(3s));
}

INSTANTIATE_TEST_SUITE_P(Paths, ProgramPaths, ::testing::Values("", "accelerated"));

TEST_F(Program, EscapeWindowCloseAndSigtermEndWithStatusZero) {
    for (const char* way : {"Escape", "WM_DELETE_WINDOW", "SIGTERM"}) {
        SCOPED_TRACE(way);
        ASSERT_NE(start_vorta(), 0u) << read_file(err_);
        std::this_thread::sleep_for(1000ms);
        if (way[0] == 'E') {
            ASSERT_EQ(std::system(("DISPLAY=" + name_ + " xdotool key Escape").c_str()), 0);
        } else if (way[0] == 'S') {
            kill(vorta_, SIGTERM);
        } else {
            // What a window manager sends when the user closes a window.
            XEvent e{};
            e.xclient.type = ClientMessage;
            // SDL may still be replacing its first window: look until one is there.
            for (auto end = Clock::now() + 5s;
                 !(e.xclient.window = find_vorta(name_)) && Clock::now() < end;) {
                std::this_thread::sleep_for(50ms);
            }
            e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
            e.xclient.format = 32;
            e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", 0));
            e.xclient.data.l[1] = CurrentTime;
            ASSERT_NE(e.xclient.window, 0u);
            XSendEvent(display_, e.xclient.window, False, NoEventMask, &e);
            XFlush(display_);
        }
        // The exit is what matters; how long it took is reported, not bet on, since a loaded
        // machine may take seconds to schedule the program.
        const auto asked = Clock::now();
        EXPECT_EQ(finish(vorta_, 15s), 0) << read_file(err_);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
        RecordProperty(std::string(way) + "_exit_ms", static_cast<int>(ms));
        std::printf("%s: exited %lld ms after the request\n", way, static_cast<long long>(ms));
    }
}

// The no-soundcard box is shown by a helper process; killing the program must take it away.
TEST_F(Program, TheNoSoundcardBoxEndsWithTheProgram) {
    // Orphans come to this test, so that the box's process can be seen to end and be reaped.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    for (const int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        // An audio driver that does not exist: the program finds no sound device.
        vorta_ = spawn({VORTA_EXE},
                       {"DISPLAY=" + name_, "SDL_VIDEODRIVER", "SDL_AUDIODRIVER=none_such",
                        "LSAN_OPTIONS=detect_leaks=0"},
                       -1, err_);
        // The program says so on stderr before it shows the box; the box's process is then the
        // one child that stays (the sound layer's start-up may fork and reap others before).
        pid_t box = 0;
        for (auto end = Clock::now() + 10s; !box && Clock::now() < end;) {
            std::this_thread::sleep_for(200ms);
            if (read_file(err_).find("soundcard") == std::string::npos) continue;
            std::ifstream children("/proc/" + std::to_string(vorta_) + "/task/" +
                                   std::to_string(vorta_) + "/children");
            children >> box;
        }
        ASSERT_GT(box, 0) << "no box process: " << read_file(err_);
        std::this_thread::sleep_for(300ms);  // let the box come up
        ASSERT_EQ(kill(box, 0), 0) << "the box's process is already gone";
        kill(vorta_, sig);
        EXPECT_NE(finish(vorta_, 2000ms), -1) << "the program did not end";
        EXPECT_NE(finish(box, 2000ms), -1) << "the box outlived the program";
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST(ProgramWithoutDisplay, ExitsOneWithAMessageWithinTwoSeconds) {
    const std::string err =
        testing::TempDir() + "vorta_nodisplay_" + std::to_string(getpid()) + ".stderr";
    pid_t pid =
        spawn({VORTA_EXE},
              {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "SDL_AUDIODRIVER=dummy"}, -1, err);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(finish(pid, 2000ms), 1);
    EXPECT_NE(read_file(err), "") << "no message on stderr";
    std::remove(err.c_str());
}

}  // namespace
