// SPDX-License-Identifier: MIT
// SETCRTC and SETPLANE: the checks of the DRM core and the routing of the
// atomic helpers' legacy set_config.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "device.h"
#include "kms_checks.h"

namespace drmsim {

// The encoder that joins a connector to a CRTC. With one encoder this is
// drm_connector_get_single_encoder; with several, the driver's best_encoder
// picks the one that CRTC can feed (as i915 does for its per-pipe DP-MST
// encoders). -1 when none can: the atomic check refuses that with EINVAL.
int Device::encoder_for(unsigned connector, unsigned crtc) const {
    for (unsigned e : connectors_[connector].encoders)
        if (encoders_[e].possible_crtcs >> crtc & 1)
            return int(e);
    return -1;
}

// The connector and its encoder are no longer fed by any CRTC.
void Device::detach_connector(unsigned connector) {
    Connector &c = connectors_[connector];
    if (c.encoder >= 0)
        encoders_[size_t(c.encoder)].crtc = -1;
    c.encoder = -1;
    c.crtc = -1;
}

void Device::disable_crtc(unsigned index) {
    Crtc &c = crtcs_[index];
    c.active = false;
    c.switched_off = false;
    c.mode = {};
    c.mode_blob.reset();
    c.x = c.y = 0;
    c.fb.reset();
    for (unsigned con : c.connectors)
        detach_connector(con);
    c.connectors.clear();
    if (c.primary_plane >= 0) {
        Plane &p = planes_[size_t(c.primary_plane)];
        if (p.crtc == int(index)) {
            p.crtc = -1;
            p.fb.reset();
        }
    }
}

int Device::set_crtc(drm_mode_crtc &req) {
    if (req.x & 0xffff0000u || req.y & 0xffff0000u)
        return -ERANGE;
    int index = crtc_index(req.crtc_id);
    if (index < 0)
        return -ENOENT;
    Crtc &crtc = crtcs_[size_t(index)];
    Plane *primary = crtc.primary_plane >= 0 ? &planes_[size_t(crtc.primary_plane)] : nullptr;

    std::shared_ptr<Framebuffer> fb;
    bool with_mode = req.mode_valid != 0;
    if (with_mode) {
        if (req.fb_id == UINT32_MAX) { // "keep the current framebuffer"
            fb = crtc_framebuffer(unsigned(index));
            if (!fb)
                return -EINVAL;
        } else {
            fb = framebuffer(req.fb_id);
            if (!fb)
                return -ENOENT;
        }
        if (!aspect_ratio_allowed_ && (req.mode.flags & DRM_MODE_FLAG_PIC_AR_MASK))
            return -EINVAL;
        if (req.mode.clock > INT_MAX || req.mode.vrefresh > INT_MAX)
            return -ERANGE;
        if (!mode_is_valid(req.mode))
            return -EINVAL;
        if (primary && !has_format(*primary, fb->format))
            return -EINVAL;
        // drm_crtc_check_viewport
        if (int e = check_source(req.x << 16, req.y << 16, uint32_t(req.mode.hdisplay) << 16,
                                 uint32_t(req.mode.vdisplay) << 16, *fb))
            return e;
    }
    if (req.count_connectors == 0 && with_mode)
        return -EINVAL;
    if (req.count_connectors > 0 && !with_mode)
        return -EINVAL;
    if (req.count_connectors > connectors_.size())
        return -EINVAL;
    std::vector<unsigned> wanted;
    if (req.count_connectors > 0) {
        if (!req.set_connectors_ptr)
            return -EFAULT;
        auto *ids =
            reinterpret_cast<const uint32_t *>(static_cast<uintptr_t>(req.set_connectors_ptr));
        for (uint32_t i = 0; i < req.count_connectors; ++i) {
            int con = connector_index(ids[i]);
            if (con < 0)
                return -ENOENT;
            wanted.push_back(unsigned(con));
        }
    }
    // The atomic check: every connector needs an encoder this CRTC can feed.
    std::vector<unsigned> chosen;
    for (unsigned con : wanted) {
        int encoder = encoder_for(con, unsigned(index));
        if (encoder < 0)
            return -EINVAL;
        chosen.push_back(unsigned(encoder));
    }

    if (!with_mode) {
        disable_crtc(unsigned(index));
        return 0;
    }
    // Route the connectors: ones this CRTC drove but no longer wants are let
    // go; wanted ones are taken from other CRTCs, and a CRTC left without
    // connectors is turned off.
    for (unsigned con : crtc.connectors)
        detach_connector(con);
    crtc.connectors.clear();
    for (size_t k = 0; k < wanted.size(); ++k) {
        const unsigned con = wanted[k];
        int previous = connectors_[con].crtc;
        if (previous >= 0 && previous != index) {
            auto &others = crtcs_[size_t(previous)].connectors;
            std::erase(others, con);
            if (others.empty())
                disable_crtc(unsigned(previous));
        }
        detach_connector(con);
        connectors_[con].crtc = index;
        connectors_[con].encoder = int(chosen[k]);
        encoders_[chosen[k]].crtc = index;
        if (std::find(crtc.connectors.begin(), crtc.connectors.end(), con) == crtc.connectors.end())
            crtc.connectors.push_back(con);
    }
    crtc.active = true;
    crtc.switched_off = false;
    if (std::memcmp(&crtc.mode, &req.mode, sizeof req.mode) != 0)
        crtc.mode_blob.reset(); // the kernel makes a new one for the new mode
    crtc.mode = req.mode;
    crtc.x = req.x;
    crtc.y = req.y;
    if (primary) {
        primary->crtc = index;
        primary->fb = fb;
        primary->src = {req.x << 16, req.y << 16, uint32_t(req.mode.hdisplay) << 16,
                        uint32_t(req.mode.vdisplay) << 16};
        primary->crtc_x = primary->crtc_y = 0;
        primary->crtc_w = req.mode.hdisplay;
        primary->crtc_h = req.mode.vdisplay;
    } else {
        crtc.fb = fb;
    }
    return 0;
}

int Device::set_plane(drm_mode_set_plane &req) {
    int index = plane_index(req.plane_id);
    if (index < 0)
        return -ENOENT;
    Plane &plane = planes_[size_t(index)];
    if (!req.fb_id) { // turn the plane off
        plane.fb.reset();
        plane.crtc = -1;
        return 0;
    }
    auto fb = framebuffer(req.fb_id);
    if (!fb)
        return -ENOENT;
    int crtc = crtc_index(req.crtc_id);
    if (crtc < 0)
        return -ENOENT;
    if (!(plane.possible_crtcs >> crtc & 1))
        return -EINVAL;
    if (!has_format(plane, fb->format))
        return -EINVAL;
    if (req.crtc_w > INT_MAX || req.crtc_x > INT_MAX - int32_t(req.crtc_w) ||
        req.crtc_h > INT_MAX || req.crtc_y > INT_MAX - int32_t(req.crtc_h))
        return -ERANGE;
    if (int e = check_source(req.src_x, req.src_y, req.src_w, req.src_h, *fb))
        return e;
    plane.crtc = crtc;
    plane.fb = fb;
    plane.src = {req.src_x, req.src_y, req.src_w, req.src_h};
    plane.crtc_x = req.crtc_x;
    plane.crtc_y = req.crtc_y;
    plane.crtc_w = req.crtc_w;
    plane.crtc_h = req.crtc_h;
    return 0;
}

} // namespace drmsim
