// SPDX-License-Identifier: MIT
// The state an ATOMIC request builds before it is checked and applied:
// shared by the ioctl's steps (device_atomic.cpp, device_writeback.cpp).
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "device.h"

namespace drmsim {

// The state a commit builds: a copy of every object's state, and which
// objects the commit brought in (named, or pulled in as the kernel pulls in
// the CRTCs a plane or connector leaves or joins).
struct Device::AtomicState {
    struct CrtcState {
        bool in = false, enable = false, active = false, event = false;
        drm_mode_modeinfo mode{};
        std::shared_ptr<Blob> mode_blob;
        bool mode_changed = false, active_changed = false, connectors_changed = false;
        std::shared_ptr<Blob> gamma_blob;
        bool gamma_changed = false;
    };
    struct PlaneState {
        bool in = false;
        int crtc = -1;
        std::shared_ptr<Framebuffer> fb;
        std::array<uint32_t, 4> src{};
        int32_t crtc_x = 0, crtc_y = 0;
        uint32_t crtc_w = 0, crtc_h = 0;
    };
    struct ConnectorState {
        bool in = false;
        int crtc = -1;
        // A writeback job: set by WRITEBACK_FB_ID (0 included), as
        // drm_writeback_set_fb makes one.
        bool writeback_job = false;
        std::shared_ptr<Framebuffer> writeback_fb;
        uint64_t out_fence_ptr = 0; // user address of the s32 fence descriptor
        int fence_fd = -1;          // the out-fence handed back, once made
    };
    std::vector<CrtcState> crtcs;
    std::vector<PlaneState> planes;
    std::vector<ConnectorState> connectors;
    bool allow_modeset = false;

    void add_crtc(int index) {
        if (index >= 0)
            crtcs[size_t(index)].in = true;
    }
};

} // namespace drmsim
