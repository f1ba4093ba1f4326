// SPDX-License-Identifier: MIT
// The program's stage after the picture is drawn (picture.h): put it on the
// chosen screen through the first CRTC of the plan, then hand the screen
// from CRTC to CRTC until input, a signal, the last handover or a failure.
#pragma once

#include <csignal>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "crc_check.h"
#include "expected_picture.h"
#include "kms_objects.h"
#include "report.h"
#include "writeback_check.h"

struct RelayPlan {
    kms_screen *screen = nullptr;
    std::vector<uint32_t> crtcs; // indices, in cycling order; not empty
    timespec period{5, 0};
    std::optional<uint64_t> handovers; // none: no end but input or a signal
    bool verify = false;
    kms_atomic *atomic = nullptr; // set: each mode set is an atomic commit
    // With verify: also read the framebuffer's registration back (GETFB2).
    bool verify_framebuffer = false;
    // --plane overlay or cursor: the plane that shows the plane picture on
    // each CRTC of `crtcs` (parallel to it), at plane_x, plane_y; empty when
    // the primary plane shows the only picture.
    std::vector<kms_plane *> planes;
    int32_t plane_x = 0, plane_y = 0;
    CrcCheck *crc = nullptr;             // set: --verify=crc
    WritebackCheck *writeback = nullptr; // set: --verify=writeback (needs atomic)
    // The plain run (no options) ends on standard input at its end as on
    // input, and a closed standard input fails its wait. Any option makes
    // the end of input no reason to stop: the run stops watching it.
    bool plain = true;
    bool watch_input = true; // false: standard input was closed at start
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

    // Shows another picture through the plan's first CRTC (a step like a
    // handover): the screen's, or with planes in the plan the plane's;
    // `drawing` says what it holds, for the pixel checks. False after a
    // failure it has printed.
    bool show_picture(kms_framebuffer *fb, const Drawing &drawing);

    // What the last mode set failed on, in words ("kms_screen_set()
    // refused it: -22", "not in effect: ..."); empty after a success.
    const std::string &last_failure() const { return last_failure_; }
    // The last mode set's report line, with what its checks found.
    const SetEvent &last_set() const { return last_set_; }

    // Waits one period for input or an ending signal: nullopt when the
    // period passed, else why the run ends (a failed wait printed).
    std::optional<EndReason> wait_period(const sigset_t &wait_mask);

    uint64_t handovers_done() const { return handovers_done_; }

private:
    // One mode set on plan CRTC `crtc_index`, timed, checked with --verify
    // and reported; false after a failure it has printed.
    bool hand_to(uint32_t crtc_index);
    // Puts the plane picture on the plane the plan gives this CRTC, with
    // `capture` when given; 0 or -errno, and what --verify found amiss in
    // `mismatch`.
    int show_plane(uint32_t crtc_index, kms_crtc *crtc, kms_writeback_job *capture,
                   SetEvent &event);
    // The pixel checks after a mode set; the first failure's name, or null.
    const char *check_pixels(uint32_t crtc_index, SetEvent &event);
    bool refused_before_commit(SetEvent &event, uint32_t crtc_index, int result);

    const RelayPlan &plan_;
    kms_framebuffer *fb_;
    kms_framebuffer *plane_fb_ = nullptr;
    Drawing drawing_, plane_drawing_; // what fb_ and plane_fb_ hold
    std::string expected_key_;        // the picture expected_ is of
    ExpectedPicture expected_;
    SetEvent last_set_;
    Report &report_;
    uint32_t step_ = 0;
    std::string last_failure_;
    uint32_t previous_crtc_id_ = 0; // for --verify: who drove the screen before
    uint64_t handovers_done_ = 0;
    bool watching_input_ = true;
};
