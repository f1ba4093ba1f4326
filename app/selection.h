// SPDX-License-Identifier: MIT
// What the options pick on the open device: the screen, its mode and the
// CRTCs to cycle through. A choice the device cannot satisfy is a usage
// error naming what it has.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kms_objects.h"
#include "options.h"

// The screen by name or index; nullptr with `error` set when there is none.
kms_screen *select_screen(kms_device *device, const std::optional<std::string> &wanted,
                          std::string &error);

// Makes the requested mode the screen's (kms_screen_set uses screen->mode).
// Without a request the screen keeps its first mode. Returns false with
// `error` set when the screen has no such mode.
bool select_mode(kms_screen *screen, const std::optional<ModeRequest> &wanted, std::string &error);

// The CRTC indices to cycle through: the list given or all, in order, then
// with `capable` only those one of the screen's encoders can be fed by.
// Empty with `error` set when nothing usable is left.
std::vector<uint32_t> select_crtcs(kms_screen *screen, const RelayOptions &options,
                                   std::string &error);
