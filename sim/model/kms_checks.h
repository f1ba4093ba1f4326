// SPDX-License-Identifier: MIT
// Checks the DRM core makes in the legacy and the atomic paths alike.
#pragma once

#include <cerrno>
#include <cstdint>

#include "device.h"

namespace drmsim {

// drm_mode_validate_basic: a mode must have a clock and ordered timings.
inline bool mode_is_valid(const drm_mode_modeinfo &m) {
    if (m.clock == 0)
        return false;
    if (m.hdisplay == 0 || m.hsync_start < m.hdisplay || m.hsync_end < m.hsync_start ||
        m.htotal < m.hsync_end)
        return false;
    if (m.vdisplay == 0 || m.vsync_start < m.vdisplay || m.vsync_end < m.vsync_start ||
        m.vtotal < m.vsync_end)
        return false;
    return true;
}

// drm_framebuffer_check_src_coords: the 16.16 source rectangle must lie
// inside the framebuffer.
inline int check_source(uint32_t x, uint32_t y, uint32_t w, uint32_t h, const Framebuffer &fb) {
    uint64_t fb_w = uint64_t(fb.width) << 16, fb_h = uint64_t(fb.height) << 16;
    if (w > fb_w || x > fb_w - w || h > fb_h || y > fb_h - h)
        return -ENOSPC;
    return 0;
}

inline bool has_format(const Plane &p, uint32_t format) {
    for (uint32_t f : p.formats)
        if (f == format)
            return true;
    return false;
}

} // namespace drmsim
