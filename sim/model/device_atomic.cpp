// SPDX-License-Identifier: MIT
// The ATOMIC ioctl: drm_mode_atomic_ioctl's argument checks and property
// setting (drm_atomic_uapi.c), then drm_atomic_check_only (drm_atomic.c) with
// the atomic helpers' modeset and plane checks, each in the kernel's order
// and with its errno. A TEST_ONLY commit stops after the checks.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "atomic_state.h"
#include "device.h"
#include "kms_checks.h"

namespace drmsim {
namespace {

template <typename T>
const T *user_array(uint64_t ptr) {
    return reinterpret_cast<const T *>(static_cast<uintptr_t>(ptr));
}

// drm_mode_equal: the timings and flags, not the name.
bool same_mode(const drm_mode_modeinfo &a, const drm_mode_modeinfo &b) {
    return a.clock == b.clock && a.hdisplay == b.hdisplay && a.hsync_start == b.hsync_start &&
           a.hsync_end == b.hsync_end && a.htotal == b.htotal && a.hskew == b.hskew &&
           a.vdisplay == b.vdisplay && a.vsync_start == b.vsync_start &&
           a.vsync_end == b.vsync_end && a.vtotal == b.vtotal && a.vscan == b.vscan &&
           a.flags == b.flags;
}

} // namespace

Device::AtomicState Device::current_state() const {
    AtomicState s;
    for (const Crtc &c : crtcs_) {
        AtomicState::CrtcState cs;
        cs.enable = c.active;
        cs.active = c.active && !c.switched_off;
        cs.mode = c.active ? c.mode : drm_mode_modeinfo{};
        cs.mode_blob = c.mode_blob;
        cs.gamma_blob = c.gamma_blob;
        s.crtcs.push_back(cs);
    }
    for (const Plane &p : planes_)
        s.planes.push_back({false, p.crtc, p.fb, p.src, p.crtc_x, p.crtc_y, p.crtc_w, p.crtc_h});
    for (const Connector &c : connectors_)
        s.connectors.emplace_back().crtc = c.crtc;
    return s;
}

// drm_property_change_valid_get: immutable properties, values outside a
// range or enum, and object or blob ids that name nothing are EINVAL.
int Device::check_property_value(const Property &p, uint64_t value) const {
    if (p.flags & DRM_MODE_PROP_IMMUTABLE)
        return -EINVAL;
    const uint32_t type = p.flags & (DRM_MODE_PROP_LEGACY_TYPE | DRM_MODE_PROP_EXTENDED_TYPE);
    switch (type) {
    case DRM_MODE_PROP_RANGE:
        return value < p.values[0] || value > p.values[1] ? -EINVAL : 0;
    case DRM_MODE_PROP_SIGNED_RANGE:
        return int64_t(value) < int64_t(p.values[0]) || int64_t(value) > int64_t(p.values[1])
                   ? -EINVAL
                   : 0;
    case DRM_MODE_PROP_BLOB:
        return value == 0 || blobs_.count(uint32_t(value)) ? 0 : -EINVAL;
    case DRM_MODE_PROP_OBJECT:
        if (value == 0)
            return 0;
        if (p.values[0] == DRM_MODE_OBJECT_FB)
            return value <= UINT32_MAX && framebuffer(uint32_t(value)) ? 0 : -EINVAL;
        return value <= UINT32_MAX && crtc_index(uint32_t(value)) >= 0 ? 0 : -EINVAL;
    default:
        for (uint64_t v : p.values)
            if (v == value)
                return 0;
        return -EINVAL;
    }
}

// drm_atomic_set_property and the per-object set_property functions.
int Device::set_atomic_property(AtomicState &s, uint32_t object, const Property &p,
                                uint64_t value) const {
    if (int e = check_property_value(p, value))
        return e;
    if (int i = crtc_index(object); i >= 0) {
        auto &c = s.crtcs[size_t(i)];
        c.in = true;
        if (p.id == prop_.active) {
            c.active = value != 0;
        } else if (p.id == prop_.mode_id) {
            // drm_atomic_set_mode_prop_for_crtc
            auto blob = value ? blobs_.at(uint32_t(value)) : nullptr;
            if (blob == c.mode_blob)
                return 0;
            c.mode = {};
            c.mode_blob = nullptr;
            c.enable = false;
            if (blob) {
                if (blob->data.size() != sizeof(drm_mode_modeinfo))
                    return -EINVAL;
                drm_mode_modeinfo mode;
                std::memcpy(&mode, blob->data.data(), sizeof mode);
                // drm_mode_convert_umode; any failure is EINVAL here
                if (mode.clock > INT_MAX || mode.vrefresh > INT_MAX || !mode_is_valid(mode))
                    return -EINVAL;
                c.mode = mode;
                c.mode_blob = blob;
                c.enable = true;
            }
        } else if (p.id == prop_.gamma_lut && p.id) {
            // drm_atomic_replace_property_blob_from_id: whole drm_color_lut
            // entries only.
            auto blob = value ? blobs_.at(uint32_t(value)) : nullptr;
            if (blob && blob->data.size() % sizeof(drm_color_lut) != 0)
                return -EINVAL;
            c.gamma_changed = c.gamma_changed || blob != c.gamma_blob;
            c.gamma_blob = blob;
        } else {
            return -EINVAL;
        }
        return 0;
    }
    if (int i = plane_index(object); i >= 0) {
        auto &pl = s.planes[size_t(i)];
        if (!pl.in) { // drm_atomic_get_plane_state brings the plane's CRTC in
            pl.in = true;
            s.add_crtc(pl.crtc);
        }
        if (p.id == prop_.fb_id) {
            pl.fb = framebuffer(uint32_t(value));
        } else if (p.id == prop_.crtc_id) {
            pl.crtc = value ? crtc_index(uint32_t(value)) : -1;
            s.add_crtc(pl.crtc);
        } else if (p.id == prop_.src_x) {
            pl.src[0] = uint32_t(value);
        } else if (p.id == prop_.src_y) {
            pl.src[1] = uint32_t(value);
        } else if (p.id == prop_.src_w) {
            pl.src[2] = uint32_t(value);
        } else if (p.id == prop_.src_h) {
            pl.src[3] = uint32_t(value);
        } else if (p.id == prop_.crtc_x) {
            pl.crtc_x = int32_t(int64_t(value));
        } else if (p.id == prop_.crtc_y) {
            pl.crtc_y = int32_t(int64_t(value));
        } else if (p.id == prop_.crtc_w) {
            pl.crtc_w = uint32_t(value);
        } else if (p.id == prop_.crtc_h) {
            pl.crtc_h = uint32_t(value);
        } else {
            return -EINVAL;
        }
        return 0;
    }
    const int i = connector_index(object);
    auto &con = s.connectors[size_t(i)];
    if (!con.in) { // drm_atomic_get_connector_state brings its CRTC in
        con.in = true;
        s.add_crtc(con.crtc);
    }
    if (p.id == prop_.crtc_id) {
        con.crtc = value ? crtc_index(uint32_t(value)) : -1;
        s.add_crtc(con.crtc);
        return 0;
    }
    if (p.id == prop_.writeback_fb_id || p.id == prop_.writeback_out_fence_ptr)
        return set_writeback_property(s, unsigned(i), p, value);
    if (p.name == "link-status") // never set Bad from user space; Good stays
        return 0;
    return -EINVAL; // DPMS is refused in atomic commits
}

// drm_atomic_check_only, with drm_atomic_helper_check as the driver's check.
int Device::check_atomic_state(AtomicState &s) const {
    // The drivers' drm_color_lut_check: a table of GAMMA_LUT_SIZE entries.
    for (size_t i = 0; i < crtcs_.size(); ++i) {
        const auto &blob = s.crtcs[i].gamma_blob;
        if (s.crtcs[i].gamma_changed && blob &&
            blob->data.size() / sizeof(drm_color_lut) != crtcs_[i].gamma_red.size())
            return -EINVAL;
    }
    // drm_atomic_plane_check
    for (size_t i = 0; i < planes_.size(); ++i) {
        const auto &p = s.planes[i];
        if (!p.in)
            continue;
        if (p.crtc >= 0 && !p.fb)
            return -EINVAL; // CRTC set but no FB
        if (p.fb && p.crtc < 0)
            return -EINVAL; // FB set but no CRTC
        if (p.crtc < 0)
            continue;
        if (!(planes_[i].possible_crtcs >> p.crtc & 1))
            return -EINVAL;
        if (!has_format(planes_[i], p.fb->format))
            return -EINVAL;
        if (p.crtc_w > INT_MAX || p.crtc_x > INT_MAX - int32_t(p.crtc_w) || p.crtc_h > INT_MAX ||
            p.crtc_y > INT_MAX - int32_t(p.crtc_h))
            return -ERANGE;
        if (int e = check_source(p.src[0], p.src[1], p.src[2], p.src[3], *p.fb))
            return e;
    }
    // drm_atomic_crtc_check
    for (size_t i = 0; i < crtcs_.size(); ++i) {
        const auto &c = s.crtcs[i];
        if (!c.in)
            continue;
        if (c.active && !c.enable)
            return -EINVAL; // active without a mode
        const bool was_active = crtcs_[i].active && !crtcs_[i].switched_off;
        if (c.event && !c.active && !was_active)
            return -EINVAL; // an event for a CRTC that is off and stays off
    }
    // drm_atomic_connector_check, and the writeback encoder's check
    if (int e = check_writeback_jobs(s))
        return e;
    // drm_atomic_helper_check_modeset
    for (size_t i = 0; i < crtcs_.size(); ++i) {
        auto &c = s.crtcs[i];
        if (!c.in)
            continue;
        const Crtc &old = crtcs_[i];
        const bool was_active = old.active && !old.switched_off;
        const drm_mode_modeinfo old_mode = old.active ? old.mode : drm_mode_modeinfo{};
        if (!same_mode(old_mode, c.mode))
            c.mode_changed = true;
        if (old.active != c.enable)
            c.mode_changed = c.connectors_changed = true;
        if (was_active != c.active)
            c.active_changed = true;
        const bool has_connectors =
            std::any_of(s.connectors.begin(), s.connectors.end(),
                        [&](const auto &con) { return con.crtc == int(i); });
        if (c.enable != has_connectors)
            return -EINVAL; // enabled/connectors mismatch
    }
    // update_connector_routing
    for (size_t i = 0; i < connectors_.size(); ++i) {
        const auto &con = s.connectors[i];
        if (!con.in)
            continue;
        const int old_crtc = connectors_[i].crtc;
        if (old_crtc != con.crtc) {
            if (old_crtc >= 0)
                s.crtcs[size_t(old_crtc)].connectors_changed = true;
            if (con.crtc >= 0)
                s.crtcs[size_t(con.crtc)].connectors_changed = true;
        }
        if (con.crtc >= 0 && encoder_for(unsigned(i), unsigned(con.crtc)) < 0)
            return -EINVAL; // encoder incompatible with the CRTC
    }
    // drm_atomic_add_affected_planes for CRTCs that need a modeset, then
    // drm_atomic_helper_check_plane_state: a plane with a framebuffer cannot
    // sit on a CRTC that has no mode.
    for (size_t i = 0; i < planes_.size(); ++i) {
        auto &p = s.planes[i];
        if (p.crtc < 0 || !p.fb)
            continue;
        const auto &c = s.crtcs[size_t(p.crtc)];
        const bool affected = c.in && (c.mode_changed || c.active_changed || c.connectors_changed);
        if ((p.in || affected) && !c.enable)
            return -EINVAL;
    }
    // drm_atomic_check_only: a full modeset needs ALLOW_MODESET.
    if (!s.allow_modeset)
        for (const auto &c : s.crtcs)
            if (c.in && (c.mode_changed || c.active_changed || c.connectors_changed))
                return -EINVAL;
    return 0;
}

void Device::apply_atomic_state(const AtomicState &s) {
    for (size_t i = 0; i < connectors_.size(); ++i) {
        const int crtc = s.connectors[i].crtc;
        if (crtc == connectors_[i].crtc)
            continue;
        if (connectors_[i].crtc >= 0)
            std::erase(crtcs_[size_t(connectors_[i].crtc)].connectors, unsigned(i));
        detach_connector(unsigned(i));
        if (crtc < 0)
            continue;
        const int encoder = encoder_for(unsigned(i), unsigned(crtc));
        connectors_[i].crtc = crtc;
        connectors_[i].encoder = encoder;
        encoders_[size_t(encoder)].crtc = crtc;
        crtcs_[size_t(crtc)].connectors.push_back(unsigned(i));
    }
    for (size_t i = 0; i < planes_.size(); ++i) {
        const auto &p = s.planes[i];
        Plane &plane = planes_[i];
        plane.crtc = p.crtc;
        plane.fb = p.fb;
        plane.src = p.src;
        plane.crtc_x = p.crtc_x;
        plane.crtc_y = p.crtc_y;
        plane.crtc_w = p.crtc_w;
        plane.crtc_h = p.crtc_h;
    }
    for (size_t i = 0; i < crtcs_.size(); ++i) {
        const auto &c = s.crtcs[i];
        Crtc &crtc = crtcs_[i];
        crtc.active = c.enable;
        crtc.switched_off = c.enable && !c.active;
        crtc.mode = c.mode;
        crtc.mode_blob = c.mode_blob;
        if (c.gamma_changed)
            crtc.load_gamma(c.gamma_blob);
        // drm_atomic_helper_update_legacy_modeset_state: x, y from the
        // primary plane
        crtc.x = crtc.y = 0;
        if (crtc.primary_plane >= 0 && planes_[size_t(crtc.primary_plane)].crtc == int(i)) {
            crtc.x = planes_[size_t(crtc.primary_plane)].src[0] >> 16;
            crtc.y = planes_[size_t(crtc.primary_plane)].src[1] >> 16;
        }
        if (!c.enable)
            crtc.fb.reset();
    }
    drop_unused_blobs();
}

int Device::atomic(drm_mode_atomic &req) {
    // drm_mode_atomic_ioctl
    if (!atomic_allowed_)
        return -EOPNOTSUPP;
    if (!atomic_)
        return -EINVAL; // the client did not ask for the atomic cap
    if (req.flags & ~uint32_t(DRM_MODE_ATOMIC_FLAGS))
        return -EINVAL;
    if (req.reserved)
        return -EINVAL;
    if (req.flags & DRM_MODE_PAGE_FLIP_ASYNC)
        return -EINVAL;
    if ((req.flags & DRM_MODE_ATOMIC_TEST_ONLY) && (req.flags & DRM_MODE_PAGE_FLIP_EVENT))
        return -EINVAL;

    AtomicState s = current_state();
    s.allow_modeset = req.flags & DRM_MODE_ATOMIC_ALLOW_MODESET;
    const auto *objects = user_array<uint32_t>(req.objs_ptr);
    const auto *counts = user_array<uint32_t>(req.count_props_ptr);
    const auto *props = user_array<uint32_t>(req.props_ptr);
    const auto *values = user_array<uint64_t>(req.prop_values_ptr);
    size_t copied_props = 0;
    for (uint32_t i = 0; i < req.count_objs; ++i) {
        if (!objects)
            return -EFAULT;
        std::vector<PropertyValue> carried;
        // drm_mode_object_find, then objects without properties
        if (properties_of(objects[i], DRM_MODE_OBJECT_ANY, carried) != 0)
            return -ENOENT;
        if (!counts)
            return -EFAULT;
        for (uint32_t j = 0; j < counts[i]; ++j, ++copied_props) {
            if (!props)
                return -EFAULT;
            const uint32_t prop_id = props[copied_props];
            const bool on_object =
                std::any_of(carried.begin(), carried.end(),
                            [&](const PropertyValue &v) { return v.property_id == prop_id; });
            if (!on_object)
                return -ENOENT;
            if (!values)
                return -EFAULT;
            if (int e =
                    set_atomic_property(s, objects[i], *property(prop_id), values[copied_props]))
                return e;
        }
    }
    // prepare_signaling: an event needs a CRTC to come from.
    if (req.flags & DRM_MODE_PAGE_FLIP_EVENT) {
        bool any = false;
        for (auto &c : s.crtcs)
            if (c.in)
                any = c.event = true;
        if (!any)
            return -EINVAL;
    }
    if (int e = check_atomic_state(s))
        return e;
    const bool test_only = req.flags & DRM_MODE_ATOMIC_TEST_ONLY;
    install_writeback_fences(s, test_only);
    if (test_only)
        return 0;
    apply_atomic_state(s);
    run_writeback_jobs(s);
    return 0;
}

} // namespace drmsim
