// Linux: SDL's X11 message box runs in a forked child, which a fork handler ties to the program
// with a parent-death signal.
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>

#include "display/box_guard.h"

namespace {

static struct {
    std::atomic<bool> showing{false};  // a box is being shown: forks now make its process
    std::atomic<pid_t> program{0};     // the process showing it
} guard;

// Runs in every child forked by the program; acts only on those forked for a box.
void tie_child_to_program() {
    if (!guard.showing.load(std::memory_order_relaxed)) return;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The program may have died before the line above took effect: the signal would never come.
    if (getppid() != guard.program.load(std::memory_order_relaxed)) _exit(1);
}

}  // namespace

void fb_box_guard_begin() {
    static const bool registered = pthread_atfork(nullptr, nullptr, tie_child_to_program) == 0;
    (void)registered;
    guard.program.store(getpid(), std::memory_order_relaxed);
    guard.showing.store(true, std::memory_order_relaxed);
}

void fb_box_guard_end() {
    guard.showing.store(false, std::memory_order_relaxed);
}
