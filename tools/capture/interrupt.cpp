// Records SIGINT, SIGTERM and SIGHUP in a flag that the capture's loops test.
#include "tools/capture/interrupt.h"

#include <signal.h>

#include <atomic>

namespace {

// Lock-free, so that the handler may store to it.
static std::atomic<int> stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

void record(int sig) {
    int none = 0;
    stop_signal.compare_exchange_strong(none, sig, std::memory_order_relaxed);
}

}  // namespace

void interrupt_install() {
    struct sigaction action = {};
    action.sa_handler = record;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: blocked writes and waits return EINTR
    for (int sig : stop_signals) {
        // A signal ignored from the start (nohup, a background job of a script) stays ignored:
        // whoever started the tool asked for that.
        struct sigaction old = {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}

int interrupt_signal() {
    return stop_signal.load(std::memory_order_relaxed);
}

void interrupt_hold(bool on) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : stop_signals) sigaddset(&set, sig);
    sigprocmask(on ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}
