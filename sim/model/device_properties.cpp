// SPDX-License-Identifier: MIT
// Object properties and their current values, and property blobs
// (CREATEPROPBLOB, DESTROYPROPBLOB, GETPROPBLOB) as drm_property.c keeps them.
#include <cerrno>
#include <climits>
#include <cstring>

#include "device.h"

namespace drmsim {
namespace {

// Ids of the core properties the constructor creates first.
constexpr uint32_t kDpms = 3, kLinkStatus = 4, kNonDesktop = 5;

} // namespace

const Property *Device::property(uint32_t id) const {
    for (const Property &p : properties_)
        if (p.id == id)
            return &p;
    return nullptr;
}

std::string Device::property_name(uint32_t id) const {
    const Property *p = property(id);
    return p ? p->name : std::string();
}

std::vector<PropertyValue> Device::connector_properties(unsigned index) const {
    const Connector &c = connectors_[index];
    const uint64_t dpms_off = 3;
    std::vector<PropertyValue> props{
        {kDpms, c.crtc >= 0 ? 0 : dpms_off}, {kLinkStatus, 0}, {kNonDesktop, 0}};
    if (atomic_allowed_)
        props.push_back({prop_.crtc_id, c.crtc >= 0 ? crtcs_[size_t(c.crtc)].id : 0});
    if (c.writeback_formats_blob) // WRITEBACK_FB_ID always reads back 0
        props.insert(props.end(), {{prop_.writeback_out_fence_ptr, 0},
                                   {prop_.writeback_fb_id, 0},
                                   {prop_.writeback_pixel_formats, c.writeback_formats_blob->id}});
    return props;
}

std::vector<PropertyValue> Device::crtc_properties(unsigned index) {
    if (!atomic_allowed_)
        return {};
    Crtc &c = crtcs_[index];
    // The kernel makes a blob for every mode a CRTC takes; here the blob of
    // a mode set by SETCRTC is made when it is first asked for, so that
    // legacy clients see the same object ids as before.
    if (c.active && !c.mode_blob) {
        std::vector<uint8_t> bytes(sizeof c.mode);
        std::memcpy(bytes.data(), &c.mode, sizeof c.mode);
        c.mode_blob = new_blob(std::move(bytes));
    }
    std::vector<PropertyValue> props{{prop_.active, c.active && !c.switched_off ? 1u : 0u},
                                     {prop_.mode_id, c.mode_blob ? c.mode_blob->id : 0}};
    if (prop_.gamma_lut) {
        props.push_back({prop_.gamma_lut, c.gamma_blob ? c.gamma_blob->id : 0});
        props.push_back({prop_.gamma_lut_size, c.gamma_red.size()});
    }
    return props;
}

std::vector<PropertyValue> Device::plane_properties(unsigned index) const {
    const Plane &p = planes_[index];
    std::vector<PropertyValue> props = p.properties;
    if (!atomic_allowed_)
        return props;
    std::vector<PropertyValue> state{{prop_.fb_id, p.fb ? p.fb->id : 0},
                                     {prop_.crtc_id, p.crtc >= 0 ? crtcs_[size_t(p.crtc)].id : 0},
                                     {prop_.src_x, p.src[0]},
                                     {prop_.src_y, p.src[1]},
                                     {prop_.src_w, p.src[2]},
                                     {prop_.src_h, p.src[3]},
                                     {prop_.crtc_x, uint64_t(int64_t(p.crtc_x))},
                                     {prop_.crtc_y, uint64_t(int64_t(p.crtc_y))},
                                     {prop_.crtc_w, p.crtc_w},
                                     {prop_.crtc_h, p.crtc_h}};
    props.insert(props.end(), state.begin(), state.end());
    return props;
}

std::shared_ptr<Blob> Device::new_blob(std::vector<uint8_t> data) {
    auto blob = std::make_shared<Blob>();
    blob->id = new_object_id();
    blob->data = std::move(data);
    blobs_[blob->id] = blob;
    return blob;
}

void Device::drop_unused_blobs() {
    std::erase_if(blobs_, [](const auto &entry) {
        return !entry.second->held_by_file && entry.second.use_count() == 1;
    });
}

std::vector<uint32_t> Device::file_blob_ids() const {
    std::vector<uint32_t> ids;
    for (const auto &[id, blob] : blobs_)
        if (blob->held_by_file)
            ids.push_back(id);
    return ids;
}

// drm_mode_createblob_ioctl / drm_property_create_blob.
int Device::create_blob(drm_mode_create_blob &b) {
    if (b.length == 0 || b.length > INT_MAX - 64)
        return -EINVAL;
    if (!b.data)
        return -EFAULT;
    std::vector<uint8_t> bytes(b.length);
    std::memcpy(bytes.data(), reinterpret_cast<const void *>(static_cast<uintptr_t>(b.data)),
                b.length);
    auto blob = new_blob(std::move(bytes));
    blob->held_by_file = true;
    b.blob_id = blob->id;
    return 0;
}

// drm_mode_destroyblob_ioctl: EINVAL for no such blob, EPERM for one this
// file did not create (the kernel's own mode blobs, say).
int Device::destroy_blob(drm_mode_destroy_blob &b) {
    auto it = blobs_.find(b.blob_id);
    if (it == blobs_.end())
        return -EINVAL;
    if (!it->second->held_by_file)
        return -EPERM;
    it->second->held_by_file = false;
    drop_unused_blobs();
    return 0;
}

// drm_mode_getblob_ioctl: the data is copied only when the caller's length
// is exactly the blob's; the length is always reported.
int Device::get_blob(drm_mode_get_blob &b) {
    auto it = blobs_.find(b.blob_id);
    if (it == blobs_.end())
        return -ENOENT;
    const std::vector<uint8_t> &data = it->second->data;
    if (b.length == data.size()) {
        if (!b.data)
            return -EFAULT;
        std::memcpy(reinterpret_cast<void *>(static_cast<uintptr_t>(b.data)), data.data(),
                    data.size());
    }
    b.length = uint32_t(data.size());
    return 0;
}

} // namespace drmsim
