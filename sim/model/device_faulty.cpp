// SPDX-License-Identifier: MIT
// A faulty driver's SETCRTC: the request is checked and carried out, then
// the state is left differing from the one asked for in one way, as drivers
// with such bugs leave it, so that a client's read-back can be tested.
#include <algorithm>
#include <cstring>

#include "device.h"

namespace drmsim {

int Device::set_crtc_faultily(drm_mode_crtc &req, DriverFault fault) {
    const std::vector<Crtc> crtcs_before = crtcs_;
    const std::vector<Plane> planes_before = planes_;
    const std::vector<Encoder> encoders_before = encoders_;
    const std::vector<Connector> connectors_before = connectors_;
    if (int e = set_crtc(req); e < 0 || !req.mode_valid)
        return e;
    const unsigned index = unsigned(crtc_index(req.crtc_id));
    Crtc &crtc = crtcs_[index];
    Plane *primary = crtc.primary_plane >= 0 ? &planes_[size_t(crtc.primary_plane)] : nullptr;

    switch (fault) {
    case DriverFault::other_mode:
        for (unsigned con : crtc.connectors)
            for (const drm_mode_modeinfo &mode : connectors_[con].modes)
                if (std::memcmp(&mode, &crtc.mode, sizeof mode) != 0) {
                    crtc.mode = mode;
                    crtc.mode_blob.reset();
                    return 0;
                }
        break;
    case DriverFault::clock:
        crtc.mode.clock -= std::max(1u, crtc.mode.clock / 1000);
        crtc.mode_blob.reset();
        break;
    case DriverFault::x_offset:
    case DriverFault::y_offset: {
        const size_t axis = fault == DriverFault::x_offset ? 0 : 1;
        (axis == 0 ? crtc.x : crtc.y) += 8;
        if (primary)
            primary->src[axis] += 8 << 16;
        break;
    }
    case DriverFault::stale_encoder:
        for (unsigned con : crtc.connectors) {
            connectors_[con].encoder = connectors_before[con].encoder;
            for (unsigned e : connectors_[con].encoders)
                encoders_[e].crtc = encoders_before[e].crtc;
        }
        break;
    case DriverFault::old_route:
        for (unsigned con : crtc.connectors) {
            const int previous = connectors_before[con].crtc;
            if (previous < 0 || unsigned(previous) == index)
                continue;
            Crtc &old = crtcs_[size_t(previous)];
            old = crtcs_before[size_t(previous)];
            if (old.primary_plane >= 0)
                planes_[size_t(old.primary_plane)] = planes_before[size_t(old.primary_plane)];
            for (size_t e = 0; e < encoders_.size(); ++e)
                if (encoders_before[e].crtc == previous && encoders_[e].crtc < 0)
                    encoders_[e].crtc = previous;
        }
        break;
    case DriverFault::no_mode:
        crtc.active = false;
        break;
    case DriverFault::foreign_encoder:
        for (unsigned con : crtc.connectors)
            for (size_t e = 0; e < encoders_.size(); ++e)
                if (std::find(connectors_[con].encoders.begin(), connectors_[con].encoders.end(),
                              e) == connectors_[con].encoders.end()) {
                    connectors_[con].encoder = int(e);
                    break;
                }
        break;
    }
    return 0;
}

} // namespace drmsim
