// SPDX-License-Identifier: MIT
// Mode timings for a size and refresh rate: the standard ones of common
// sizes, a reduced-blanking approximation for any other.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "description.h"

namespace drmsim {
namespace {

struct Timing {
    uint32_t width, height, clock;
    uint16_t hss, hse, htotal, vss, vse, vtotal;
    uint32_t flags;
};

// 60 Hz timings of common sizes (CEA-861 and VESA DMT).
constexpr std::array<Timing, 7> kTimings{{
    {640, 480, 25175, 656, 752, 800, 490, 492, 525, DRM_MODE_FLAG_NHSYNC | DRM_MODE_FLAG_NVSYNC},
    {800, 600, 40000, 840, 968, 1056, 601, 605, 628, DRM_MODE_FLAG_PHSYNC | DRM_MODE_FLAG_PVSYNC},
    {1024, 768, 65000, 1048, 1184, 1344, 771, 777, 806,
     DRM_MODE_FLAG_NHSYNC | DRM_MODE_FLAG_NVSYNC},
    {1280, 720, 74250, 1390, 1430, 1650, 725, 730, 750,
     DRM_MODE_FLAG_PHSYNC | DRM_MODE_FLAG_PVSYNC},
    {1280, 1024, 108000, 1328, 1440, 1688, 1025, 1028, 1066,
     DRM_MODE_FLAG_PHSYNC | DRM_MODE_FLAG_PVSYNC},
    {1920, 1080, 148500, 2008, 2052, 2200, 1084, 1089, 1125,
     DRM_MODE_FLAG_PHSYNC | DRM_MODE_FLAG_PVSYNC},
    {3840, 2160, 594000, 4016, 4104, 4400, 2168, 2178, 2250,
     DRM_MODE_FLAG_PHSYNC | DRM_MODE_FLAG_PVSYNC},
}};

} // namespace

void set_mode_name(drm_mode_modeinfo &m, const std::string &name) {
    std::memset(m.name, 0, sizeof m.name);
    std::memcpy(m.name, name.data(), std::min(name.size(), sizeof m.name - 1));
}

drm_mode_modeinfo make_mode(uint32_t width, uint32_t height, uint32_t refresh_hz) {
    drm_mode_modeinfo m{};
    m.hdisplay = uint16_t(width);
    m.vdisplay = uint16_t(height);
    m.vrefresh = refresh_hz;
    m.type = DRM_MODE_TYPE_DRIVER;
    set_mode_name(m, std::to_string(width) + "x" + std::to_string(height));
    for (const Timing &t : kTimings) {
        if (t.width == width && t.height == height && refresh_hz == 60) {
            m.clock = t.clock;
            m.hsync_start = t.hss, m.hsync_end = t.hse, m.htotal = t.htotal;
            m.vsync_start = t.vss, m.vsync_end = t.vse, m.vtotal = t.vtotal;
            m.flags = t.flags;
            return m;
        }
    }
    // Reduced blanking: fixed 160-pixel horizontal blank, short vertical one.
    if (width == 0 || height == 0)
        return m; // deliberately invalid, kept as given
    m.hsync_start = uint16_t(std::min<uint32_t>(width + 48, 0xffff));
    m.hsync_end = uint16_t(std::min<uint32_t>(width + 80, 0xffff));
    m.htotal = uint16_t(std::min<uint32_t>(width + 160, 0xffff));
    m.vsync_start = uint16_t(std::min<uint32_t>(height + 3, 0xffff));
    m.vsync_end = uint16_t(std::min<uint32_t>(height + 9, 0xffff));
    m.vtotal = uint16_t(std::min<uint32_t>(height + 30, 0xffff));
    m.clock = uint32_t(uint64_t(m.htotal) * m.vtotal * refresh_hz / 1000);
    m.flags = DRM_MODE_FLAG_PHSYNC | DRM_MODE_FLAG_NVSYNC;
    return m;
}

} // namespace drmsim
