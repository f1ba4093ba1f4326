// SPDX-License-Identifier: MIT
// Which pixel formats a run may show: those the plane lists that the
// pattern generator draws. A choice outside them is a usage error naming
// the valid ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kms_objects.h"

// The primary plane that shows SETCRTC's framebuffer on CRTC `crtc_index`:
// the one on it, else the first primary plane that can sit there; nullptr
// when the device lists none.
kms_plane *primary_plane_of(kms_device *device, uint32_t crtc_index);

// "XR24, RG16": the plane's formats that the generator draws, in its order.
std::string drawable_formats(const kms_plane &plane);

// The code of the generator format named `name` if the plane lists it;
// nullopt with `error` set otherwise.
std::optional<uint32_t> select_format(const kms_plane &plane, const std::string &name,
                                      std::string &error);

struct SweepList {
    std::vector<uint32_t> formats; // to show, in order
    std::vector<uint32_t> skipped; // listed by the plane, not drawn by the generator
};

// --formats: `names` empty means all the plane lists. nullopt with `error`
// set for a name the generator or the plane lacks.
std::optional<SweepList> select_sweep(const kms_plane &plane, const std::vector<std::string> &names,
                                      std::string &error);
