// SPDX-License-Identifier: MIT
// What the options pick on the open device: the screen, its mode and the
// CRTCs to cycle through. A choice the device cannot satisfy is a usage
// error naming what it has; a device that cannot be read is a device error.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kms_objects.h"
#include "options.h"

struct SelectionError {
    std::string message; // one line, without the program name
    int status = 2;      // 2 a choice the device lacks, 1 the device could not be read
};

// The screen by name (ours, "HDMI-A-0", or the kernel's, "HDMI-A-1"),
// index or connector id; nullptr with `error` set when there is none or
// the name means two screens.
kms_screen *select_screen(kms_device *device, const std::optional<std::string> &wanted,
                          SelectionError &error);

// Makes the requested mode the screen's (kms_screen_set uses screen->mode).
// Without a request the screen keeps its first mode. Returns false with
// `error` set when the screen has no such mode, no mode at all, or the mode
// is larger than the device's largest framebuffer.
bool select_mode(kms_screen *screen, const std::optional<ModeRequest> &wanted,
                 SelectionError &error);

// The CRTC indices to cycle through: the list given or all, in order, then
// with `capable` only those one of the screen's encoders can be fed by (a
// list given must name only such CRTCs). Empty with `error` set when
// nothing usable is left.
std::vector<uint32_t> select_crtcs(kms_screen *screen, const RelayOptions &options,
                                   SelectionError &error);
