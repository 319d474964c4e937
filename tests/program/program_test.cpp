// The real program in a real window: each test starts its own X server and window manager, runs
// vorta with the x11 video driver and checks the picture on screen and every way out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int screen_w = 1280, screen_h = 1024;

// The environment of this test with `drop` removed and `add` appended ("NAME=value").
std::vector<std::string> environment(const std::vector<std::string>& drop,
                                     const std::vector<std::string>& add) {
    std::vector<std::string> env;
    for (char** e = environ; *e; e++) {
        const std::string s = *e;
        bool keep = true;
        for (const auto& d : drop) keep &= s.compare(0, d.size() + 1, d + "=") != 0;
        if (keep) env.push_back(s);
    }
    env.insert(env.end(), add.begin(), add.end());
    return env;
}

// Starts `argv` with `env`; its stdout goes to /dev/null and its stderr to `err_path`. The child
// is killed if this test process dies first, so no X server outlives a crashed test.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const char* err_path) {
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    e.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent is already gone
    const int out = open("/dev/null", O_WRONLY),
              err = open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    execvpe(a[0], a.data(), e.data());
    _exit(127);
}

// Waits up to `limit` for `pid` to end; its exit status, or -1 if it is still running
// (-2 when a signal ended it).
int wait_exit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        std::this_thread::sleep_for(10ms);
    } while (Clock::now() < end);
    return -1;
}

void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

bool have(const char* program) {
    const std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The window whose name is `name`, searched depth-first from `w`; 0 when there is none.
Window find_window(Display* d, Window w, const char* name) {
    char* n = nullptr;
    if (XFetchName(d, w, &n) && n) {
        const bool match = std::strcmp(n, name) == 0;
        XFree(n);
        if (match) return w;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; i++) found = find_window(d, children[i], name);
        if (children) XFree(children);
    }
    return found;
}

// Screen contents as 0xRRGGBB words.
std::vector<std::uint32_t> screenshot(Display* d) {
    std::vector<std::uint32_t> px;
    XImage* img = XGetImage(d, DefaultRootWindow(d), 0, 0, screen_w, screen_h, AllPlanes, ZPixmap);
    if (!img) return px;
    px.resize(screen_w * screen_h);
    for (int y = 0; y < screen_h; y++) {
        for (int x = 0; x < screen_w; x++) px[y * screen_w + x] = XGetPixel(img, x, y) & 0xFFFFFF;
    }
    XDestroyImage(img);
    return px;
}

class Program : public ::testing::Test {
   protected:
    void SetUp() override {
        if (!have("Xvfb") || !have("matchbox-window-manager"))
            GTEST_SKIP() << "Xvfb or matchbox-window-manager missing";
        tmp_ = testing::TempDir() + "vorta_program_" + std::to_string(getpid());
        err_ = tmp_ + ".stderr";
        // A display number no other server holds. Tests running side by side claim numbers with
        // a file lock (freed by the kernel if a test dies) before they look at X's own lock file.
        for (int n = 90; n < 140 && !display_; n++) {
            if (claim_ >= 0) close(claim_);
            claim_ =
                open(("/tmp/.vorta-test-X" + std::to_string(n)).c_str(), O_CREAT | O_RDWR, 0666);
            if (claim_ < 0 || flock(claim_, LOCK_EX | LOCK_NB) != 0) continue;
            struct stat st {};
            if (stat(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), &st) == 0) continue;
            name_ = std::string(":").append(std::to_string(n));
            xvfb_ = spawn({"Xvfb", name_, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                          environment({}, {}), "/dev/null");
            for (auto end = Clock::now() + 5s; Clock::now() < end && !display_;
                 std::this_thread::sleep_for(50ms)) {
                if (wait_exit(xvfb_, 0ms) != -1) {
                    xvfb_ = -1;
                    break;
                }
                display_ = XOpenDisplay(name_.c_str());
            }
            if (!display_) stop(xvfb_);
        }
        ASSERT_NE(display_, nullptr) << "no X server could be started";
        // A window that vanishes between lookup and use must fail the check, not end the test.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        wm_ = spawn({"matchbox-window-manager", "-use_titlebar", "no"},
                    environment({"DISPLAY"}, {"DISPLAY=" + name_}), "/dev/null");
        ASSERT_GT(wm_, 0);
        std::this_thread::sleep_for(300ms);  // let the window manager take over the root window
    }
    void TearDown() override {
        stop(vorta_);
        stop(wm_);
        if (display_) XCloseDisplay(display_);
        if (xvfb_ > 0) {
            kill(xvfb_, SIGTERM);
            if (wait_exit(xvfb_, 3000ms) == -1) stop(xvfb_);
        }
        std::remove(err_.c_str());
        if (claim_ >= 0) close(claim_);
    }

    // Starts vorta on this test's server with the real x11 video driver and silent sound, and
    // waits for its window. 0 when no window appeared.
    Window start_vorta() {
        // In sanitizer builds the leak check is off for the program: D-Bus and the GL driver,
        // loaded by SDL, keep allocations until exit. Our own code has no heap to leak.
        vorta_ =
            spawn({VORTA_EXE},
                  environment(
                      {"DISPLAY", "SDL_VIDEODRIVER", "SDL_AUDIODRIVER", "LSAN_OPTIONS"},
                      {"DISPLAY=" + name_, "SDL_AUDIODRIVER=dummy", "LSAN_OPTIONS=detect_leaks=0"}),
                  err_.c_str());
        if (vorta_ <= 0) return 0;
        for (auto end = Clock::now() + 10s; Clock::now() < end; std::this_thread::sleep_for(50ms)) {
            if (Window w = find_window(display_, DefaultRootWindow(display_), "vorta")) return w;
            if (wait_exit(vorta_, 0ms) != -1) break;
        }
        return 0;
    }

    std::string tmp_, err_, name_;
    Display* display_ = nullptr;
    pid_t xvfb_ = -1, wm_ = -1, vorta_ = -1;
    int claim_ = -1;  // the file lock that holds this test's display number
};

TEST_F(Program, ShowsTheFrameIntegerScaledAndCentredWithBlackBars) {
    ASSERT_NE(start_vorta(), 0u) << read_file(err_);
    // The show fades in from black: wait until most of the picture is lit (at most 8 s).
    std::vector<std::uint32_t> px;
    int lit = 0;
    for (auto end = Clock::now() + 8s; Clock::now() < end; std::this_thread::sleep_for(250ms)) {
        px = screenshot(display_);
        ASSERT_EQ(px.size(), std::size_t(screen_w * screen_h));
        lit = 0;
        for (int y = 32; y < 992; y += 4) {
            for (int x = 0; x < screen_w; x += 4) lit += px[y * screen_w + x] != 0;
        }
        if (lit > 240 * 320 / 2) break;
    }
    EXPECT_GT(lit, 240 * 320 / 2) << "the picture stayed dark";
    // 1280 × 1024 holds 320 × 240 four times over (1280 × 960): 32 black rows above and below.
    int bar_pixels = 0;
    for (int y : {0, 31, 992, 1023}) {
        for (int x = 0; x < screen_w; x++) bar_pixels += px[y * screen_w + x] != 0;
    }
    for (int y = 0; y < 32; y++) bar_pixels += px[y * screen_w + 640] != 0;
    EXPECT_EQ(bar_pixels, 0) << "bars are not black";
    // The picture reaches the bars on both sides: its first and last rows have lit pixels.
    int top = 0, bottom = 0;
    for (int x = 0; x < screen_w; x++) {
        top += px[32 * screen_w + x] != 0;
        bottom += px[991 * screen_w + x] != 0;
    }
    EXPECT_GT(top, 0);
    EXPECT_GT(bottom, 0);
    // Crisp: every framebuffer pixel is a uniform 4 × 4 block, never blended with a neighbour.
    int blurred = 0;
    for (int by = 0; by < 240; by++) {
        for (int bx = 0; bx < 320; bx++) {
            const std::uint32_t c = px[(32 + by * 4) * screen_w + bx * 4];
            for (int k = 1; k < 16; k++)
                blurred += px[(32 + by * 4 + k / 4) * screen_w + bx * 4 + k % 4] != c;
        }
    }
    EXPECT_EQ(blurred, 0) << "pixels differ inside 4 × 4 blocks";
}

TEST_F(Program, EscapeEndsWithStatusZeroWithinASecond) {
    ASSERT_NE(start_vorta(), 0u) << read_file(err_);
    std::this_thread::sleep_for(1000ms);
    const std::string cmd = "DISPLAY=" + name_ + " xdotool key Escape";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(wait_exit(vorta_, 1000ms), 0) << read_file(err_);
    vorta_ = -1;
}

TEST_F(Program, WindowCloseEndsWithStatusZero) {
    ASSERT_NE(start_vorta(), 0u) << read_file(err_);
    std::this_thread::sleep_for(1000ms);
    // Looked up again: SDL may replace its first window when the renderer needs another visual.
    const Window w = find_window(display_, DefaultRootWindow(display_), "vorta");
    ASSERT_NE(w, 0u);
    // What a window manager sends when the user closes a window.
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, w, False, NoEventMask, &e);
    XFlush(display_);
    EXPECT_EQ(wait_exit(vorta_, 2000ms), 0) << read_file(err_);
    vorta_ = -1;
}

TEST_F(Program, SigtermEndsWithStatusZero) {
    ASSERT_NE(start_vorta(), 0u) << read_file(err_);
    std::this_thread::sleep_for(1000ms);
    kill(vorta_, SIGTERM);
    EXPECT_EQ(wait_exit(vorta_, 2000ms), 0) << read_file(err_);
    vorta_ = -1;
}

TEST(ProgramWithoutDisplay, ExitsOneWithAMessageOnStderr) {
    const std::string err =
        testing::TempDir() + "vorta_nodisplay_" + std::to_string(getpid()) + ".stderr";
    const auto t0 = Clock::now();
    pid_t pid =
        spawn({VORTA_EXE},
              environment({"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "SDL_AUDIODRIVER"},
                          {"SDL_AUDIODRIVER=dummy"}),
              err.c_str());
    ASSERT_GT(pid, 0);
    const int status = wait_exit(pid, 2000ms);
    if (status == -1) stop(pid);
    EXPECT_EQ(status, 1);
    EXPECT_LT(Clock::now() - t0, 2s);
    const std::string text = read_file(err);
    EXPECT_FALSE(text.empty()) << "no message on stderr";
    std::remove(err.c_str());
}

}  // namespace
