// SPDX-License-Identifier: MIT
// Writeback connectors as drm_writeback.c and the atomic core handle them:
// the WRITEBACK_* properties, a job per commit that sets WRITEBACK_FB_ID,
// the checks of drm_atomic_connector_check and of vkms's writeback encoder,
// the out-fence (a sync_file in the kernel, an eventfd here: both become
// readable when signalled), and the capture of what the CRTC composes.
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "atomic_state.h"
#include "device.h"
#include "drmsim.h"

namespace drmsim {

// create_writeback_properties, in its order.
void Device::add_writeback_properties(uint32_t &next_property) {
    auto add = [&](const char *name, uint32_t flags, std::vector<uint64_t> values) {
        const uint32_t id = next_property++;
        properties_.push_back({id, name, flags | DRM_MODE_PROP_ATOMIC, std::move(values), {}});
        return id;
    };
    prop_.writeback_fb_id = add("WRITEBACK_FB_ID", DRM_MODE_PROP_OBJECT, {DRM_MODE_OBJECT_FB});
    prop_.writeback_pixel_formats =
        add("WRITEBACK_PIXEL_FORMATS", DRM_MODE_PROP_BLOB | DRM_MODE_PROP_IMMUTABLE, {});
    prop_.writeback_out_fence_ptr =
        add("WRITEBACK_OUT_FENCE_PTR", DRM_MODE_PROP_RANGE, {0, UINT64_MAX});
}

// drm_atomic_connector_set_property for the two writable ones.
int Device::set_writeback_property(AtomicState &s, unsigned connector, const Property &p,
                                   uint64_t value) const {
    auto &con = s.connectors[connector];
    if (p.id == prop_.writeback_fb_id) {
        con.writeback_job = true;
        con.writeback_fb = framebuffer(uint32_t(value));
        return 0;
    }
    // set_out_fence_for_connector: -1 is written at once, the descriptor
    // only when the commit goes through.
    if (value == 0)
        return 0;
    int32_t none = -1;
    std::memcpy(reinterpret_cast<void *>(static_cast<uintptr_t>(value)), &none, sizeof none);
    con.out_fence_ptr = value;
    return 0;
}

// drm_atomic_connector_check, then what vkms's writeback encoder checks
// (drm_atomic_helper_check_wb_encoder_state and the size).
int Device::check_writeback_jobs(const AtomicState &s) const {
    for (size_t i = 0; i < connectors_.size(); ++i) {
        const auto &con = s.connectors[i];
        if (connectors_[i].type != DRM_MODE_CONNECTOR_WRITEBACK || !con.writeback_job)
            continue;
        if (!con.writeback_fb) {
            if (con.out_fence_ptr)
                return -EINVAL; // out-fence without framebuffer
            continue;
        }
        if (con.crtc < 0)
            return -EINVAL; // framebuffer without CRTC
        const auto &crtc = s.crtcs[size_t(con.crtc)];
        if (!crtc.active)
            return -EINVAL; // framebuffer, but the CRTC is off
        const Framebuffer &fb = *con.writeback_fb;
        if (fb.width != crtc.mode.hdisplay || fb.height != crtc.mode.vdisplay)
            return -EINVAL; // vkms: "Invalid framebuffer size"
        const auto &formats = connectors_[i].writeback_formats;
        if (std::find(formats.begin(), formats.end(), fb.format) == formats.end())
            return -EINVAL; // "Invalid pixel format"
    }
    return 0;
}

// prepare_signaling and complete_signaling for a commit that passed its
// checks: every job with an out-fence pointer gets a fence descriptor. A
// TEST_ONLY commit installs it too, and its job never runs, so that fence
// never signals.
void Device::install_writeback_fences(AtomicState &s, bool test_only) const {
    (void)test_only;
    for (auto &con : s.connectors) {
        if (!con.writeback_job || !con.out_fence_ptr)
            continue;
        con.fence_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        const int32_t fd = con.fence_fd;
        std::memcpy(reinterpret_cast<void *>(static_cast<uintptr_t>(con.out_fence_ptr)), &fd,
                    sizeof fd);
    }
}

// drm_atomic_helper_commit_writebacks, and the driver's job: the CRTC's
// composed picture written into the framebuffer, then the fence signalled
// (drm_writeback_signal_completion). A real device does this at the end
// of the next frame; here the commit returns with it done.
void Device::run_writeback_jobs(const AtomicState &s) {
    for (size_t i = 0; i < connectors_.size(); ++i) {
        const auto &con = s.connectors[i];
        if (!con.writeback_job || !con.writeback_fb || con.crtc < 0)
            continue;
        unsigned job = 0;
        if (writeback_faults_)
            job = ++writeback_faults_->jobs;
        auto faulty = [&](const std::vector<unsigned> &jobs) {
            return writeback_faults_ && std::count(jobs.begin(), jobs.end(), job) > 0;
        };
        const Framebuffer &fb = *con.writeback_fb;
        const Picture picture = compose(unsigned(con.crtc));
        auto bytes = fb.buffers[0]->bytes();
        for (uint32_t y = 0; y < std::min(fb.height, picture.height); ++y)
            for (uint32_t x = 0; x < std::min(fb.width, picture.width); ++x) {
                const uint64_t at = fb.offsets[0] + uint64_t(y) * fb.pitches[0] + uint64_t(x) * 4;
                if (at + 4 <= bytes.size())
                    encode_capture_pixel(fb.format, picture.pixels[size_t(y) * picture.width + x],
                                         bytes.data() + at);
            }
        if (faulty(writeback_faults_ ? writeback_faults_->corrupt : std::vector<unsigned>{})) {
            // One pixel a third of the way along the middle row, inverted.
            const uint64_t at =
                fb.offsets[0] + uint64_t(fb.height / 2) * fb.pitches[0] + uint64_t(fb.width / 3) * 4;
            if (at + 4 <= bytes.size())
                for (int k = 0; k < 3; ++k)
                    bytes[at + k] ^= 0xff;
        }
        const bool signals =
            !faulty(writeback_faults_ ? writeback_faults_->unsignalled : std::vector<unsigned>{});
        if (con.fence_fd >= 0 && signals) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = write(con.fence_fd, &one, sizeof one);
        }
    }
}

} // namespace drmsim
