// The program's two stages after start-up: put SMPTE bars on the chosen
// screen through CRTC 0, then hand the screen from CRTC to CRTC until input,
// SIGINT or a failure.
#pragma once

#include <csignal>

#include "kms_objects.h"

// Creates, draws and shows the framebuffer. On success stores it in *fb_out
// and returns true; on failure prints the failed operation and returns false
// (with *fb_out set to whatever must still be destroyed, possibly nullptr).
bool show_smpte_on_first_crtc(kms_device *device, kms_screen *screen, kms_framebuffer **fb_out);

// Every 5 s hands `screen` to the next CRTC, round robin, starting at CRTC 1.
// Waits with SIGINT unblocked only inside the wait (wait_mask); returns true
// when input or SIGINT ended the loop, false after a failure it has printed.
bool cycle_crtcs(kms_device *device, kms_screen *screen, kms_framebuffer *fb,
                 const sigset_t &wait_mask);
