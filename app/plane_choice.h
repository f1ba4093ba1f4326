// SPDX-License-Identifier: MIT
// Which plane shows the pattern on each CRTC of the plan when --plane names
// an overlay or cursor plane: the named plane where it can sit, else the
// first plane of the same kind that can. A CRTC with none is a usage error,
// or is left out of the plan with --capable.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kms_objects.h"
#include "options.h"

// Parallel to `crtcs` (from which --capable may drop CRTCs); empty for
// --plane primary. nullopt with `error` set when a choice cannot be met.
std::optional<std::vector<kms_plane *>> select_planes(kms_device *device,
                                                      const PlaneRequest &request, bool capable,
                                                      std::vector<uint32_t> &crtcs,
                                                      std::string &error);

// "overlay", "cursor" or "primary".
const char *plane_kind_name(uint32_t type);
