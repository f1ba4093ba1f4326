// SPDX-License-Identifier: MIT
// Each CRTC's colour lookup table through the legacy gamma calls, and
// GETFB2, which reads a framebuffer's registration back.
#include <cerrno>
#include <cstring>

#include "device.h"

namespace drmsim {
namespace {

template <typename T>
T *user_array(uint64_t ptr) {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(ptr));
}

} // namespace

// The table drm_mode_crtc_set_gamma_size starts every CRTC with: entry i
// holds i << 8 in each colour.
void Crtc::reset_gamma(uint32_t size) {
    gamma_red.assign(size, 0);
    for (uint32_t i = 0; i < size; ++i)
        gamma_red[i] = uint16_t(i << 8);
    gamma_green = gamma_red;
    gamma_blue = gamma_red;
}

void Crtc::load_gamma(const std::shared_ptr<Blob> &blob) {
    gamma_blob = blob;
    reset_gamma(uint32_t(gamma_red.size()));
    if (!blob)
        return;
    for (size_t i = 0; i < gamma_red.size(); ++i) {
        drm_color_lut entry;
        std::memcpy(&entry, blob->data.data() + i * sizeof entry, sizeof entry);
        gamma_red[i] = entry.red;
        gamma_green[i] = entry.green;
        gamma_blue[i] = entry.blue;
    }
}

std::vector<uint32_t> Device::changed_gamma() const {
    std::vector<uint32_t> changed;
    for (size_t i = 0; i < crtcs_.size(); ++i) {
        Crtc ramp;
        ramp.reset_gamma(uint32_t(crtcs_[i].gamma_red.size()));
        if (ramp.gamma_red != crtcs_[i].gamma_red || ramp.gamma_green != crtcs_[i].gamma_green ||
            ramp.gamma_blue != crtcs_[i].gamma_blue)
            changed.push_back(uint32_t(i));
    }
    return changed;
}

// drm_mode_gamma_get_ioctl: the size must be the CRTC's own.
int Device::get_gamma(drm_mode_crtc_lut &lut) {
    const int index = crtc_index(lut.crtc_id);
    if (index < 0)
        return -ENOENT;
    const Crtc &crtc = crtcs_[size_t(index)];
    if (lut.gamma_size != crtc.gamma_red.size())
        return -EINVAL;
    if (lut.gamma_size == 0)
        return 0;
    if (!lut.red || !lut.green || !lut.blue)
        return -EFAULT;
    const size_t bytes = lut.gamma_size * sizeof(uint16_t);
    std::memcpy(user_array<uint16_t>(lut.red), crtc.gamma_red.data(), bytes);
    std::memcpy(user_array<uint16_t>(lut.green), crtc.gamma_green.data(), bytes);
    std::memcpy(user_array<uint16_t>(lut.blue), crtc.gamma_blue.data(), bytes);
    return 0;
}

// drm_mode_gamma_set_ioctl: ENOSYS for a CRTC whose driver has no gamma
// (no table), EINVAL for a size other than the CRTC's.
int Device::set_gamma(drm_mode_crtc_lut &lut) {
    const int index = crtc_index(lut.crtc_id);
    if (index < 0)
        return -ENOENT;
    Crtc &crtc = crtcs_[size_t(index)];
    if (crtc.gamma_red.empty())
        return -ENOSYS;
    if (lut.gamma_size != crtc.gamma_red.size())
        return -EINVAL;
    if (!lut.red || !lut.green || !lut.blue)
        return -EFAULT;
    const size_t bytes = lut.gamma_size * sizeof(uint16_t);
    std::memcpy(crtc.gamma_red.data(), user_array<uint16_t>(lut.red), bytes);
    std::memcpy(crtc.gamma_green.data(), user_array<uint16_t>(lut.green), bytes);
    std::memcpy(crtc.gamma_blue.data(), user_array<uint16_t>(lut.blue), bytes);
    // drm_atomic_helper_legacy_gamma_set: the table becomes GAMMA_LUT's blob.
    if (prop_.gamma_lut) {
        std::vector<uint8_t> data(lut.gamma_size * sizeof(drm_color_lut));
        for (uint32_t i = 0; i < lut.gamma_size; ++i) {
            const drm_color_lut entry{crtc.gamma_red[i], crtc.gamma_green[i], crtc.gamma_blue[i],
                                      0};
            std::memcpy(data.data() + i * sizeof entry, &entry, sizeof entry);
        }
        crtc.gamma_blob = new_blob(std::move(data));
        drop_unused_blobs();
    }
    return 0;
}

// drm_mode_getfb2_ioctl: the registration as given, modifiers absent (the
// device takes none), and for the master new handles to the buffers, one
// per distinct buffer.
int Device::get_fb2(drm_mode_fb_cmd2 &f) {
    auto it = framebuffers_.find(f.fb_id);
    if (it == framebuffers_.end())
        return -ENOENT;
    const Framebuffer &fb = *it->second;
    f.width = fb.width;
    f.height = fb.height;
    f.pixel_format = fb.format;
    f.flags = 0;
    for (unsigned i = 0; i < 4; ++i) {
        f.handles[i] = f.pitches[i] = f.offsets[i] = 0;
        f.modifier[i] = 0;
    }
    for (unsigned i = 0; i < fb.info->num_planes; ++i) {
        f.pitches[i] = fb.pitches[i];
        f.offsets[i] = fb.offsets[i];
    }
    for (unsigned i = 0; i < fb.info->num_planes; ++i) {
        for (unsigned j = 0; j < i; ++j)
            if (fb.buffers[j] == fb.buffers[i])
                f.handles[i] = f.handles[j];
        if (f.handles[i] || !fb.buffers[i])
            continue;
        uint32_t handle = 1;
        while (handles_.count(handle))
            ++handle;
        handles_[handle] = fb.buffers[i];
        f.handles[i] = handle;
    }
    return 0;
}

} // namespace drmsim
