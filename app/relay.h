// The program's stage after the picture is drawn (picture.h): put it on the
// chosen screen through the first CRTC of the plan, then hand the screen
// from CRTC to CRTC until input, a signal, the last handover or a failure.
#pragma once

#include <csignal>
#include <ctime>
#include <optional>
#include <vector>

#include "kms_objects.h"
#include "report.h"

struct RelayPlan {
    kms_screen *screen = nullptr;
    std::vector<uint32_t> crtcs; // indices, in cycling order; not empty
    timespec period{5, 0};
    std::optional<uint64_t> handovers; // none: no end but input or a signal
    bool verify = false;
    kms_atomic *atomic = nullptr; // set: each mode set is an atomic commit
};

class Relay {
public:
    Relay(const RelayPlan &plan, kms_framebuffer *fb, Report &report);

    // Shows the picture through the plan's first CRTC; false after a
    // failure it has printed.
    bool show_first();

    // Every period hands the screen to the next CRTC of the plan, round
    // robin. The wait lets the ending signals in (wait_mask). Returns why it
    // ended; a failure has been printed.
    EndReason cycle(const sigset_t &wait_mask);

private:
    // One mode set on plan CRTC `crtc_index`, timed, checked with --verify
    // and reported; false after a failure it has printed.
    bool hand_to(uint32_t crtc_index);

    const RelayPlan &plan_;
    kms_framebuffer *fb_;
    Report &report_;
    uint32_t step_ = 0;
    uint32_t previous_crtc_id_ = 0; // for --verify: who drove the screen before
};
