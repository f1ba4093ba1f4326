// SPDX-License-Identifier: MIT
// How a run with options ends: the verdict of --handovers, the teardown
// with every failed request said, and the report's end line.
#pragma once

#include "options.h"
#include "picture.h"
#include "relay.h"
#include "report.h"

// The end of a run that stopped for `reason` (`failed`: something else
// failed on the way). With --handovers N, a run stopped by input or a
// signal before the Nth is a failure, said on stderr.
EndEvent run_end(const RelayOptions &options, EndReason reason, bool failed, const Relay &relay);

// Destroys the framebuffer; a teardown request that fails is said on
// stderr, kept in `end` and makes its status 1.
void tear_down(FramebufferPtr &fb, EndEvent &end);

// Writes the end line; returns the exit status (1 when the report could
// not be written, said on stderr).
int finish(Report &report, const EndEvent &end);
