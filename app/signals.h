// SPDX-License-Identifier: MIT
// SIGINT, SIGTERM and SIGHUP end the run like input does: with the orderly
// teardown and status 0. They stay blocked except inside the wait, so that
// one arriving while the picture is drawn or a mode is set is never lost.
#pragma once

#include <csignal>

// Installs the handlers and blocks the signals. On success stores in
// *wait_mask the mask for the wait (the old mask without the three) and
// returns true; on failure prints the failed call and returns false.
bool block_ending_signals(sigset_t *wait_mask);

// The signal that ended the last wait with EINTR, 0 for none.
int ending_signal();

// SIGPIPE and SIGXFSZ ignored: a report whose reader left or that passed
// the file-size limit then fails its write (EPIPE, EFBIG), which the run
// reports and tears down after, instead of dying without a word.
bool ignore_write_signals();
