// SPDX-License-Identifier: MIT
// The ending signals: blocked outside the wait, recorded when they arrive.
#include "signals.h"

#include <csignal>

#include "failure.h"

namespace {

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int write_signals[] = {SIGPIPE, SIGXFSZ};

volatile sig_atomic_t last_signal = 0;

// Records the signal; its real effect is that the wait ends with EINTR
// instead of the process being killed, so teardown runs.
void on_ending_signal(int signo) {
    last_signal = signo;
}

} // namespace

bool block_ending_signals(sigset_t *wait_mask) {
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signo : ending_signals) {
        if (sigaction(signo, &action, nullptr) < 0) {
            print_system_failure("sigaction()");
            return false;
        }
        sigaddset(&blocked, signo);
    }
    if (sigprocmask(SIG_BLOCK, &blocked, wait_mask) < 0) {
        print_system_failure("sigprocmask()");
        return false;
    }
    for (const int signo : ending_signals)
        sigdelset(wait_mask, signo);
    return true;
}

int ending_signal() {
    return last_signal;
}

bool ignore_write_signals() {
    for (const int signo : write_signals)
        if (std::signal(signo, SIG_IGN) == SIG_ERR) {
            print_system_failure("signal()");
            return false;
        }
    return true;
}
