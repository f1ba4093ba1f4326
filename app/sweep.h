// SPDX-License-Identifier: MIT
// --formats: each format of the list shown on the plan's first CRTC for one
// period, checked with --verify, reported as a "format" event; a failure
// does not stop the sweep. Ends with a one-line summary.
#pragma once

#include <csignal>

#include "format_choice.h"
#include "picture.h"
#include "relay.h"
#include "report.h"

struct Sweep {
    const RelayPlan &plan;
    Relay &relay;
    const kms_plane &plane; // whose formats are swept
    const SweepList &list;
    pattern::TestPattern pattern;
    Palettes &palettes;
    Report &report;
    uint32_t width, height; // of each format's picture
};

// formats when every format was tried (status 1 then if any failed), input
// or signal when one ended it early, failure when the wait failed. The
// framebuffer on screen at the end is left in `shown`.
EndReason run_sweep(const Sweep &sweep, const sigset_t &wait_mask, FramebufferPtr &shown,
                    bool &any_failed);
