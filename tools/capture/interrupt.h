// Signals that stop a capture: recorded, not acted on, so that the run unwinds through its
// ordinary failure path and removes what it started.
#pragma once

// Catches SIGINT, SIGTERM and SIGHUP (those not ignored from the start) by recording them,
// without restarting interrupted calls, so that a blocked write or wait returns EINTR. Ignores
// SIGXFSZ and SIGPIPE, so that a file-size limit or a dead reader shows up as a failed write
// (EFBIG, EPIPE) instead of ending the process.
void interrupt_install();
// The first signal that asked the run to stop, or 0.
int interrupt_signal();
// The exit status that reports `sig`: 128 + its number, as shells do.
constexpr int interrupt_status(int sig) {
    return 128 + sig;
}
// Holds the three signals back while `on` (the final renames run as one step); releasing them
// delivers any that arrived meanwhile.
void interrupt_hold(bool on);
