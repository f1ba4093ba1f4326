// SPDX-License-Identifier: MIT
// The relay loop: each mode set timed, checked and reported, and the wait
// between handovers.
#include "relay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include "failure.h"
#include "kms_text.h"
#include "picture.h"
#include "pixel_formats.h"
#include "signals.h"
#include "verify.h"

namespace {

// Whether a readable standard input is at its end rather than holding
// input. Pipes, sockets, terminals and files say how much they hold
// (FIONREAD), which reads nothing; other files (/dev/null answers no
// FIONREAD) are read one byte, which only real input loses.
bool at_end_of_input() {
    int available = 0;
    if (ioctl(0, FIONREAD, &available) == 0)
        return available == 0;
    char byte;
    return read(0, &byte, 1) == 0;
}

// In whole nanoseconds, so that a period waited in two parts is still
// exactly the period.
int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

timespec time_left(int64_t deadline_ns) {
    const int64_t left = std::max<int64_t>(0, deadline_ns - monotonic_ns());
    return timespec{time_t(left / 1'000'000'000), long(left % 1'000'000'000)};
}

constexpr uint32_t kXR24 = pattern::fourcc_code('X', 'R', '2', '4');

} // namespace

// Without a chosen picture the screen shows draw_smpte's.
Relay::Relay(const RelayPlan &plan, kms_framebuffer *fb, Report &report)
    : plan_(plan), fb_(fb),
      drawing_{pattern::TestPattern::smpte, kXR24, plan.screen->width, plan.screen->height},
      report_(report), watching_input_(plan.watch_input) {}

bool Relay::hand_to(uint32_t crtc_index) {
    kms_crtc *crtc = plan_.screen->device->crtcs[crtc_index].get();
    SetEvent event;
    event.step = step_++;
    event.crtc_index = crtc_index;
    event.crtc_id = crtc->id;
    last_failure_.clear();
    auto refused = [&](const char *call, int result) {
        report_.set(event); // a write that fails too is said by the caller
        last_set_ = event;
        print_kms_failure(call, result);
        if (event.step == 0 && !plan_.plain && (result == -EACCES || result == -EPERM) &&
            kms_device_is_master(plan_.screen->device) == 0)
            std::fprintf(stderr, "crtc-relay: the device is not ours to drive: another DRM "
                                 "master (such as a running display server) holds it\n");
        last_failure_ = std::string(call) + " failed: " + std::to_string(result);
        return false;
    };

    kms_writeback_job *capture = plan_.writeback ? plan_.writeback->job(crtc_index) : nullptr;
    // With a plane the capture goes with the plane's commit, after which
    // the CRTC shows the whole picture; the handover routes the connector.
    kms_writeback_job route;
    kms_writeback_job *screen_capture = capture;
    if (capture && !plan_.planes.empty()) {
        route.connector = capture->connector;
        screen_capture = &route;
    }
    if (plan_.atomic) {
        // The kernel checks the whole handover first; a refusal there ends
        // the run as a refused mode set would.
        event.atomic = true;
        const int checked = kms_atomic_screen_set_writeback(plan_.atomic, plan_.screen, crtc, fb_,
                                                            screen_capture, true);
        if (checked < 0 && plan_.atomic->failed_step != kms_atomic_step::commit)
            return refused_before_commit(event, crtc_index, checked);
        event.test_only = checked;
        if (checked < 0) {
            event.result = checked;
            return refused("kms_atomic_screen_set() TEST_ONLY", event.result);
        }
    }
    const double before = monotonic_now();
    event.result = plan_.atomic ? kms_atomic_screen_set_writeback(plan_.atomic, plan_.screen, crtc,
                                                                  fb_, screen_capture, false)
                                : kms_screen_set(plan_.screen, crtc, fb_);
    event.duration_us = uint64_t(std::llround((monotonic_now() - before) * 1e6));
    if (event.result < 0)
        return refused(plan_.atomic ? "kms_atomic_screen_set()" : "kms_screen_set()",
                       event.result);
    // The checks in order; the first that fails names the failure.
    const char *failed = nullptr;
    if (plan_.verify) {
        const kms_plane *plane =
            plan_.atomic ? kms_atomic_primary_plane(plan_.atomic, crtc) : nullptr;
        event.mismatch = verify_handover({plan_.screen, crtc, fb_, previous_crtc_id_, plane});
        if (event.mismatch.empty() && plan_.verify_framebuffer)
            event.mismatch = verify_framebuffer(*fb_);
        if (!event.mismatch.empty())
            failed = "not in effect";
    }
    if (!plan_.planes.empty() && !failed) {
        if (show_plane(crtc_index, crtc, capture, event) < 0)
            return refused(plan_.atomic ? "kms_atomic_plane_set()" : "kms_plane_set()",
                           *event.plane_result);
        if (!event.mismatch.empty())
            failed = "not in effect";
    }
    if (!failed)
        failed = check_pixels(crtc_index, event);
    if (plan_.verify || plan_.crc || plan_.writeback)
        event.verified = failed == nullptr;
    last_set_ = event;
    if (!report_.set(event)) {
        last_failure_ = report_.error(); // the caller says it
        return false;
    }
    if (failed) {
        std::fprintf(stderr, "handover to CRTC %u %s: %s\n", crtc_index, failed,
                     event.mismatch.c_str());
        last_failure_ = std::string(failed) + ": " + event.mismatch;
        return false;
    }
    previous_crtc_id_ = crtc->id;
    return true;
}

const char *Relay::check_pixels(uint32_t crtc_index, SetEvent &event) {
    if (!plan_.crc && !plan_.writeback)
        return nullptr;
    std::vector<Layer> layers{{drawing_, 0, 0}};
    if (!plan_.planes.empty())
        layers.push_back({plane_drawing_, plan_.plane_x, plan_.plane_y});
    const std::string picture = picture_key(layers);
    const std::string shown = format_name(layers.back().drawing.format);
    if (plan_.crc) {
        std::vector<CrcEntry> entries;
        event.mismatch =
            plan_.crc->check(crtc_index, event.step, picture, shown, entries, event.references.crc);
        event.crc.emplace();
        for (const CrcEntry &entry : entries) {
            event.crc->push_back(entry.values);
            event.frames.push_back(entry.frame);
        }
        if (!event.mismatch.empty())
            return "failed its CRC check";
    }
    if (plan_.writeback) {
        if (picture != expected_key_) {
            expected_ = compose_expected(plan_.screen->width, plan_.screen->height, layers);
            expected_key_ = picture;
        }
        event.references.writeback_format = plan_.writeback->capture_format(crtc_index);
        event.references.writeback_tolerance = expected_.tolerance;
        event.mismatch = plan_.writeback->check(crtc_index, event.step, expected_);
        if (!event.mismatch.empty())
            return "failed its writeback check";
    }
    return nullptr;
}

// An atomic handover that failed before any ATOMIC request was sent: the
// step that failed is named, and the report says so instead of a TEST_ONLY
// result.
bool Relay::refused_before_commit(SetEvent &event, uint32_t crtc_index, int result) {
    const kms_atomic &atomic = *plan_.atomic;
    event.result = result;
    event.atomic_step = atomic_step_name(atomic.failed_step);
    std::string why = "kms_atomic_screen_set() failed: " + std::to_string(result) + " (";
    switch (atomic.failed_step) {
    case kms_atomic_step::plane:
        why += "no primary plane can show a picture on CRTC " + std::to_string(crtc_index);
        break;
    case kms_atomic_step::property:
        why += "the device lacks the ";
        why += atomic.missing_property ? atomic.missing_property : "?";
        why += " property";
        break;
    case kms_atomic_step::mode_blob:
        why += "the mode's property blob was refused";
        break;
    default:
        why += "the commit could not be built";
        break;
    }
    why += "; no ATOMIC request was sent)";
    report_.set(event); // a write that fails too is said by the caller
    last_set_ = event;
    std::fprintf(stderr, "%s\n", why.c_str());
    last_failure_ = why;
    return false;
}

int Relay::show_plane(uint32_t crtc_index, kms_crtc *crtc, kms_writeback_job *capture,
                      SetEvent &event) {
    size_t position = 0;
    while (plan_.crtcs[position] != crtc_index)
        ++position;
    kms_plane *plane = plan_.planes[position];
    event.plane_id = plane->id;
    // A legacy SETPLANE names the CRTC through the plane's record.
    plane->crtc = crtc;
    event.plane_result =
        plan_.atomic ? kms_atomic_plane_set_writeback(plan_.atomic, plane, crtc, plane_fb_,
                                                      plan_.plane_x, plan_.plane_y, capture, false)
                     : kms_plane_set(plane, plane_fb_, uint32_t(plan_.plane_x),
                                     uint32_t(plan_.plane_y));
    if (*event.plane_result < 0)
        return *event.plane_result;
    if (plan_.verify) {
        event.mismatch = verify_plane({plane, crtc, plane_fb_, plan_.plane_x, plan_.plane_y});
        if (event.mismatch.empty() && plan_.verify_framebuffer)
            event.mismatch = verify_framebuffer(*plane_fb_);
    }
    return 0;
}

bool Relay::show_first() {
    if (plan_.verify)
        previous_crtc_id_ = crtc_driving(plan_.screen);
    return hand_to(plan_.crtcs[0]);
}

std::optional<EndReason> Relay::wait_period(const sigset_t &wait_mask) {
    timespec timeout = plan_.period;
    const int64_t deadline =
        monotonic_ns() + int64_t(timeout.tv_sec) * 1'000'000'000 + timeout.tv_nsec;
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        if (watching_input_)
            FD_SET(0, &readable);

        // The ending signals are blocked everywhere but here, so one that
        // arrived while drawing or mode setting is delivered now.
        const int ready = pselect(watching_input_ ? 1 : 0, watching_input_ ? &readable : nullptr,
                                  nullptr, nullptr, &timeout, &wait_mask);
        if (ready < 0) {
            if (errno == EINTR)
                return EndReason::signal;
            // The one message that gives errno as its number, as documented
            // since the first release.
            std::fprintf(stderr, "select() failed: %d\n", errno);
            return EndReason::failure;
        }
        if (ready == 0)
            return std::nullopt;
        if (plan_.plain || !at_end_of_input())
            return EndReason::input; // it is left unread
        // At its end standard input can never bring a key: stop watching
        // it and wait out the rest of the period.
        watching_input_ = false;
        timeout = time_left(deadline);
    }
}

bool Relay::show_picture(kms_framebuffer *fb, const Drawing &drawing) {
    (plan_.planes.empty() ? fb_ : plane_fb_) = fb;
    (plan_.planes.empty() ? drawing_ : plane_drawing_) = drawing;
    if (plan_.verify)
        previous_crtc_id_ = crtc_driving(plan_.screen);
    return hand_to(plan_.crtcs[0]);
}

EndReason Relay::cycle(const sigset_t &wait_mask) {
    if (plan_.handovers && *plan_.handovers == 0)
        return EndReason::handovers;
    size_t cursor = 1;
    for (;;) {
        if (const std::optional<EndReason> ended = wait_period(wait_mask))
            return *ended;
        if (cursor >= plan_.crtcs.size())
            cursor = 0;
        if (!hand_to(plan_.crtcs[cursor]))
            return EndReason::failure;
        ++cursor;
        if (++handovers_done_ == plan_.handovers)
            return EndReason::handovers;
    }
}
