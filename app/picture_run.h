// SPDX-License-Identifier: MIT
// Runs that show a chosen picture: --pattern, --format, --formats and
// --plane. The plain run does not come here.
#pragma once

#include <csignal>
#include <optional>
#include <string>

#include "format_choice.h"
#include "options.h"
#include "relay.h"
#include "report.h"
#include "test_pattern.h"

bool wants_picture(const RelayOptions &options);

// What the options ask for, checked against the planes that will show it.
struct PictureChoice {
    pattern::TestPattern pattern = pattern::TestPattern::smpte;
    kms_plane *plane = nullptr;  // the first CRTC's plane that shows the pattern
    uint32_t format = 0;         // --format's code, or the default
    SweepList sweep;             // --formats
    uint32_t width = 0, height = 0; // of the pattern's picture
};

// Checks the choice before anything is set: also sets the plan's planes
// (and drops the CRTCs --capable leaves out). nullopt with `error` set.
std::optional<PictureChoice> choose_picture(const RelayOptions &options, RelayPlan &plan,
                                            std::string &error);

// From the first picture to the teardown and the report's last line;
// returns the exit status.
int run_picture(const RelayOptions &options, RelayPlan &plan, const PictureChoice &choice,
                Report &report, const sigset_t &wait_mask);
