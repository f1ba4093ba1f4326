// SPDX-License-Identifier: MIT
// --verify=writeback: each handover commit also attaches a writeback
// connector to the new CRTC with a capture framebuffer and an out-fence;
// once the fence signals, the captured frame is compared pixel for pixel
// with the expected picture (expected_picture.h). The capture formats read
// here (XR24, XB24, RA24) hold 8 bits per colour, as that picture does, so
// the comparison is exact but for the tolerance the shown formats need.
#pragma once

#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expected_picture.h"
#include "kms_objects.h"

class WritebackCheck {
public:
    // Up front, with atomic on: a writeback connector for each CRTC in
    // `crtcs`, in a format read here, and its capture framebuffer at the
    // screen's mode. nullopt with `error` naming what is missing.
    static std::unique_ptr<WritebackCheck> prepare(kms_atomic *atomic, const kms_screen &screen,
                                                   const std::vector<uint32_t> &crtcs,
                                                   timespec timeout,
                                                   const std::optional<std::string> &save,
                                                   std::string &error);
    ~WritebackCheck();

    // The capture to attach when CRTC `crtc` takes the screen.
    kms_writeback_job *job(uint32_t crtc);
    // After the commit: waits for the capture and compares it with
    // `expected`; empty when equal within its tolerance, else what
    // differed. Closes the fence.
    std::string check(uint32_t crtc, uint32_t step, const ExpectedPicture &expected);

    // The format CRTC `crtc`'s captures are written in.
    uint32_t capture_format(uint32_t crtc) { return job(crtc)->fb->format; }

private:
    WritebackCheck() = default;
    std::string compare(uint32_t crtc, uint32_t step, const kms_framebuffer &capture,
                        const ExpectedPicture &expected);

    std::vector<kms_writeback> connectors_;
    std::map<uint32_t, size_t> connector_of_crtc_;
    std::vector<kms_framebuffer *> captures_; // one per connector used, or null
    std::vector<kms_writeback_job> jobs_;     // parallel to connectors_
    timespec timeout_{1, 0};
    std::optional<std::string> save_;
};
