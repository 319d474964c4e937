// The real program at start-up: what it says and how it ends when sound or the module fail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
    int status = -1;  // exit status, or 128 + signal
    std::string err;  // everything written on stderr
    double seconds = 0;
};

// Runs `exe` with `env` added to a copy of the environment minus DISPLAY. If `stop_after` > 0,
// sends SIGTERM after that many seconds. Kills it after `limit` seconds in any case.
Outcome run(const char* exe, std::vector<std::string> env, double stop_after, double limit) {
    for (char** e = environ; *e; ++e) {
        std::string s(*e);
        if (s.rfind("DISPLAY=", 0) != 0 && s.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            s.rfind("SDL_AUDIODRIVER=", 0) != 0 && s.rfind("SDL_VIDEODRIVER=", 0) != 0)
            env.push_back(s);
    }
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0) return {};
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char* argv[] = {const_cast<char*>(exe), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, exe, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    Outcome r;
    if (rc != 0) return r;

    auto start = std::chrono::steady_clock::now();
    bool stopped = false;
    for (;;) {
        char buf[512];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) r.err.append(buf, n);
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            while ((n = read(fds[0], buf, sizeof buf)) > 0) r.err.append(buf, n);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (stop_after > 0 && !stopped && r.seconds > stop_after) {
            kill(pid, SIGTERM);
            stopped = true;
        }
        if (r.seconds > limit) kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(fds[0]);
    return r;
}

TEST(Startup, WithoutASoundDeviceItSaysSoAndPlaysOnSilently) {
    // An audio driver that does not exist: the default device cannot open.
    Outcome r =
        run(VORTA_EXE, {"SDL_AUDIODRIVER=no-such-driver", "SDL_VIDEODRIVER=dummy"}, 2.0, 20.0);
    EXPECT_NE(r.err.find("No soundcard? Suck me sideways from Tuesday! Get a GUS\n"),
              std::string::npos)
        << r.err;
    // Still running when asked to stop: the silent clock plays on, and SIGTERM ends it cleanly.
    EXPECT_GE(r.seconds, 2.0);
    EXPECT_EQ(r.status, 0);
}

TEST(Startup, RejectedModuleSaysSoAndExits1BeforeTheDisplay) {
    Outcome r = run(VORTA_BAD_MODULE_EXE, {"SDL_AUDIODRIVER=dummy"}, 0, 20.0);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lurba sanoo: vittu saatana perkele\n"), std::string::npos) << r.err;
    // No display is opened: with no display server there would otherwise be a display error.
    EXPECT_EQ(r.err.find("display"), std::string::npos) << r.err;
}

}  // namespace
