// SPDX-License-Identifier: MIT
// Read-only requests: resources, connectors, encoders, CRTCs, planes and
// properties, and the capability calls.
#include <cerrno>
#include <cstring>

#include "device.h"

namespace drmsim {
namespace {

template <typename T>
T *user_array(uint64_t ptr) {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(ptr));
}

// The kernel fills as many entries as the caller made room for and always
// reports the full count; a null array with room in it is a fault.
template <typename T>
int copy_out(uint64_t ptr, uint32_t room, const std::vector<T> &items) {
    size_t n = std::min<size_t>(room, items.size());
    if (n == 0)
        return 0;
    if (!ptr)
        return -EFAULT;
    std::memcpy(user_array<T>(ptr), items.data(), n * sizeof(T));
    return 0;
}

// Some answers (connector modes and encoders, plane formats) are copied only
// when the whole list fits.
template <typename T>
int copy_all_or_nothing(uint64_t ptr, uint32_t room, const std::vector<T> &items) {
    if (items.empty() || room < items.size())
        return 0;
    if (!ptr)
        return -EFAULT;
    std::memcpy(user_array<T>(ptr), items.data(), items.size() * sizeof(T));
    return 0;
}

int copy_text(char *dst, __kernel_size_t &len, const char *text) {
    size_t full = std::strlen(text);
    if (len && dst)
        std::memcpy(dst, text, std::min<size_t>(len, full));
    len = full;
    return 0;
}

} // namespace

int Device::get_resources(drm_mode_card_res &r) {
    std::vector<uint32_t> fbs = framebuffer_ids(), crtcs, connectors, encoders;
    for (const Crtc &c : crtcs_)
        crtcs.push_back(c.id);
    // Writeback connectors only for clients that asked for them.
    for (const Connector &c : connectors_)
        if (c.type != DRM_MODE_CONNECTOR_WRITEBACK || writeback_connectors_)
            connectors.push_back(c.id);
    for (const Encoder &e : encoders_)
        encoders.push_back(e.id);
    if (int e = copy_out(r.fb_id_ptr, r.count_fbs, fbs))
        return e;
    if (int e = copy_out(r.crtc_id_ptr, r.count_crtcs, crtcs))
        return e;
    if (int e = copy_out(r.connector_id_ptr, r.count_connectors, connectors))
        return e;
    if (int e = copy_out(r.encoder_id_ptr, r.count_encoders, encoders))
        return e;
    r.count_fbs = uint32_t(fbs.size());
    r.count_crtcs = uint32_t(crtcs.size());
    r.count_connectors = uint32_t(connectors.size());
    r.count_encoders = uint32_t(encoders.size());
    r.min_width = 0;
    r.max_width = max_width_;
    r.min_height = 0;
    r.max_height = max_height_;
    return 0;
}

// drm_mode_object_get_properties: a client without the atomic cap sees
// none of the atomic properties.
std::vector<PropertyValue> Device::visible(std::vector<PropertyValue> props) const {
    if (!atomic_)
        std::erase_if(props, [&](const PropertyValue &v) {
            const Property *p = property(v.property_id);
            return p && (p->flags & DRM_MODE_PROP_ATOMIC);
        });
    return props;
}

int Device::get_connector(drm_mode_get_connector &c) {
    int index = connector_index(c.connector_id);
    if (index < 0)
        return -ENOENT;
    Connector &con = connectors_[size_t(index)];
    std::vector<drm_mode_modeinfo> modes = con.modes;
    if (!aspect_ratio_allowed_)
        for (auto &m : modes)
            m.flags &= ~uint32_t(DRM_MODE_FLAG_PIC_AR_MASK);
    std::vector<uint32_t> encoders;
    for (unsigned e : con.encoders)
        encoders.push_back(encoders_[e].id);
    std::vector<uint32_t> prop_ids;
    std::vector<uint64_t> prop_values;
    for (const auto &p : visible(connector_properties(unsigned(index))))
        prop_ids.push_back(p.property_id), prop_values.push_back(p.value);

    if (int e = copy_all_or_nothing(c.modes_ptr, c.count_modes, modes))
        return e;
    if (int e = copy_out(c.props_ptr, c.count_props, prop_ids))
        return e;
    if (int e = copy_out(c.prop_values_ptr, c.count_props, prop_values))
        return e;
    if (int e = copy_all_or_nothing(c.encoders_ptr, c.count_encoders, encoders))
        return e;
    c.count_modes = uint32_t(modes.size());
    c.count_props = uint32_t(prop_ids.size());
    c.count_encoders = uint32_t(encoders.size());
    c.encoder_id = con.encoder >= 0 ? encoders_[size_t(con.encoder)].id : 0;
    c.connector_type = con.type;
    c.connector_type_id = con.type_id;
    c.connection = con.connection;
    c.mm_width = con.mm_width;
    c.mm_height = con.mm_height;
    c.subpixel = 1; // "Unknown" in the kernel's subpixel enumeration
    c.pad = 0;
    return 0;
}

int Device::get_encoder(drm_mode_get_encoder &e) {
    for (const Encoder &encoder : encoders_) {
        if (encoder.id != e.encoder_id)
            continue;
        e.encoder_type = encoder.type;
        e.crtc_id = encoder.crtc >= 0 ? crtcs_[size_t(encoder.crtc)].id : 0;
        e.possible_crtcs = encoder.possible_crtcs;
        e.possible_clones = 0;
        return 0;
    }
    return -ENOENT;
}

int Device::get_crtc(drm_mode_crtc &c) {
    int index = crtc_index(c.crtc_id);
    if (index < 0)
        return -ENOENT;
    const Crtc &crtc = crtcs_[size_t(index)];
    auto fb = crtc_framebuffer(unsigned(index));
    c.fb_id = fb ? fb->id : 0;
    c.x = crtc.x;
    c.y = crtc.y;
    c.gamma_size = uint32_t(crtc.gamma_red.size());
    c.mode_valid = crtc.active ? 1 : 0;
    c.mode = crtc.active ? crtc.mode : drm_mode_modeinfo{};
    c.count_connectors = 0;
    return 0;
}

int Device::get_plane_resources(drm_mode_get_plane_res &r) {
    // Unless the client asked for universal planes, only overlays exist.
    std::vector<uint32_t> ids;
    for (const Plane &p : planes_)
        if (universal_planes_ || p.type == PlaneType::overlay)
            ids.push_back(p.id);
    if (int e = copy_out(r.plane_id_ptr, r.count_planes, ids))
        return e;
    r.count_planes = uint32_t(ids.size());
    return 0;
}

int Device::get_plane(drm_mode_get_plane &p) {
    int index = plane_index(p.plane_id);
    if (index < 0)
        return -ENOENT;
    const Plane &plane = planes_[size_t(index)];
    if (int e = copy_all_or_nothing(p.format_type_ptr, p.count_format_types, plane.formats))
        return e;
    p.crtc_id = plane.crtc >= 0 ? crtcs_[size_t(plane.crtc)].id : 0;
    p.fb_id = plane.fb ? plane.fb->id : 0;
    p.possible_crtcs = plane.possible_crtcs;
    p.gamma_size = 0;
    p.count_format_types = uint32_t(plane.formats.size());
    return 0;
}

int Device::properties_of(uint32_t id, uint32_t type, std::vector<PropertyValue> &out) {
    auto matches = [&](uint32_t t) { return type == DRM_MODE_OBJECT_ANY || type == t; };
    if (int i = plane_index(id); i >= 0) {
        if (!matches(DRM_MODE_OBJECT_PLANE))
            return -ENOENT;
        out = plane_properties(unsigned(i));
        return 0;
    }
    if (int i = connector_index(id); i >= 0) {
        if (!matches(DRM_MODE_OBJECT_CONNECTOR))
            return -ENOENT;
        out = connector_properties(unsigned(i));
        return 0;
    }
    if (int i = crtc_index(id); i >= 0) {
        if (!matches(DRM_MODE_OBJECT_CRTC))
            return -ENOENT;
        out = crtc_properties(unsigned(i));
        return 0;
    }
    // Encoders, framebuffers, blobs and properties exist but carry no
    // properties.
    bool exists = framebuffers_.count(id) != 0 || blobs_.count(id) != 0;
    for (const Encoder &e : encoders_)
        exists = exists || e.id == id;
    for (const Property &p : properties_)
        exists = exists || p.id == id;
    return exists ? -EINVAL : -ENOENT;
}

int Device::get_properties(drm_mode_obj_get_properties &p) {
    std::vector<PropertyValue> props;
    if (int e = properties_of(p.obj_id, p.obj_type, props))
        return e;
    std::vector<uint32_t> ids;
    std::vector<uint64_t> values;
    for (const auto &v : visible(std::move(props)))
        ids.push_back(v.property_id), values.push_back(v.value);
    if (int e = copy_out(p.props_ptr, p.count_props, ids))
        return e;
    if (int e = copy_out(p.prop_values_ptr, p.count_props, values))
        return e;
    p.count_props = uint32_t(ids.size());
    return 0;
}

int Device::get_property(drm_mode_get_property &p) {
    const Property *prop = property(p.prop_id);
    if (!prop)
        return -ENOENT;
    std::memset(p.name, 0, sizeof p.name);
    std::memcpy(p.name, prop->name.data(), std::min(prop->name.size(), sizeof p.name - 1));
    p.flags = prop->flags;
    if (int e = copy_out(p.values_ptr, p.count_values, prop->values))
        return e;
    p.count_values = uint32_t(prop->values.size());
    if (prop->flags & (DRM_MODE_PROP_ENUM | DRM_MODE_PROP_BITMASK)) {
        std::vector<drm_mode_property_enum> enums;
        for (const auto &[name, value] : prop->enums) {
            drm_mode_property_enum e{};
            e.value = value;
            std::memcpy(e.name, name.data(), std::min(name.size(), sizeof e.name - 1));
            enums.push_back(e);
        }
        if (int e = copy_out(p.enum_blob_ptr, p.count_enum_blobs, enums))
            return e;
        p.count_enum_blobs = uint32_t(enums.size());
    } else if (prop->flags & DRM_MODE_PROP_BLOB) {
        p.count_enum_blobs = 0;
    }
    return 0;
}

int Device::get_cap(drm_get_cap &c) {
    switch (c.capability) {
    case DRM_CAP_DUMB_BUFFER:
        c.value = 1;
        return 0;
    case DRM_CAP_DUMB_PREFERRED_DEPTH:
        c.value = 24;
        return 0;
    case DRM_CAP_DUMB_PREFER_SHADOW:
        c.value = 0;
        return 0;
    case DRM_CAP_PRIME:
        c.value = 0;
        return 0;
    case DRM_CAP_TIMESTAMP_MONOTONIC:
        c.value = 1;
        return 0;
    case DRM_CAP_ASYNC_PAGE_FLIP:
        c.value = 0;
        return 0;
    case DRM_CAP_CURSOR_WIDTH:
        c.value = cursor_width_;
        return 0;
    case DRM_CAP_CURSOR_HEIGHT:
        c.value = cursor_height_;
        return 0;
    case DRM_CAP_ADDFB2_MODIFIERS:
        c.value = 0;
        return 0;
    case DRM_CAP_PAGE_FLIP_TARGET:
        c.value = 0;
        return 0;
    case DRM_CAP_CRTC_IN_VBLANK_EVENT:
        c.value = 1;
        return 0;
    case DRM_CAP_SYNCOBJ:
    case DRM_CAP_SYNCOBJ_TIMELINE:
        c.value = 0;
        return 0;
    default:
        return -EINVAL;
    }
}

int Device::set_client_cap(drm_set_client_cap &c) {
    switch (c.capability) {
    case DRM_CLIENT_CAP_STEREO_3D:
        return c.value > 1 ? -EINVAL : 0;
    case DRM_CLIENT_CAP_UNIVERSAL_PLANES:
        if (!universal_planes_cap_allowed_ || c.value > 1)
            return -EINVAL;
        universal_planes_ = c.value == 1;
        return 0;
    case DRM_CLIENT_CAP_ATOMIC:
        if (!atomic_allowed_)
            return -EOPNOTSUPP; // a legacy-only driver
        if (c.value > 2)
            return -EINVAL;
        // Atomic clients get universal planes and aspect-ratio modes too.
        atomic_ = universal_planes_ = aspect_ratio_allowed_ = c.value != 0;
        return 0;
    case DRM_CLIENT_CAP_ASPECT_RATIO:
        if (c.value > 1)
            return -EINVAL;
        aspect_ratio_allowed_ = c.value == 1;
        return 0;
    case DRM_CLIENT_CAP_WRITEBACK_CONNECTORS:
        // Only for atomic clients.
        if (!atomic_ || c.value > 1)
            return -EINVAL;
        writeback_connectors_ = c.value == 1;
        return 0;
    default:
        return -EINVAL;
    }
}

int Device::version(drm_version &v) {
    v.version_major = 1;
    v.version_minor = 0;
    v.version_patchlevel = 0;
    copy_text(v.name, v.name_len, "drmsim");
    copy_text(v.date, v.date_len, "0");
    copy_text(v.desc, v.desc_len, "simulated KMS device");
    return 0;
}

} // namespace drmsim
