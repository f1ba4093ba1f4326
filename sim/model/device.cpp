// SPDX-License-Identifier: MIT
// The device's objects and properties built from its description, and the request dispatch.
#include "device.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "drmsim.h"

namespace drmsim {
namespace {

// Ids below this are the core properties' in a real kernel; KMS objects of
// real drivers start about here.
constexpr uint32_t kFirstObjectId = 31;

uint32_t encoder_type_for(uint32_t connector_type) {
    switch (connector_type) {
    case DRM_MODE_CONNECTOR_VGA:
        return DRM_MODE_ENCODER_DAC;
    case DRM_MODE_CONNECTOR_LVDS:
    case DRM_MODE_CONNECTOR_eDP:
        return DRM_MODE_ENCODER_LVDS;
    case DRM_MODE_CONNECTOR_DVII:
    case DRM_MODE_CONNECTOR_DVID:
    case DRM_MODE_CONNECTOR_DVIA:
    case DRM_MODE_CONNECTOR_DisplayPort:
    case DRM_MODE_CONNECTOR_HDMIA:
    case DRM_MODE_CONNECTOR_HDMIB:
        return DRM_MODE_ENCODER_TMDS;
    case DRM_MODE_CONNECTOR_Composite:
    case DRM_MODE_CONNECTOR_SVIDEO:
    case DRM_MODE_CONNECTOR_Component:
    case DRM_MODE_CONNECTOR_TV:
        return DRM_MODE_ENCODER_TVDAC;
    case DRM_MODE_CONNECTOR_VIRTUAL:
    case DRM_MODE_CONNECTOR_WRITEBACK:
        return DRM_MODE_ENCODER_VIRTUAL;
    case DRM_MODE_CONNECTOR_DSI:
        return DRM_MODE_ENCODER_DSI;
    case DRM_MODE_CONNECTOR_DPI:
        return DRM_MODE_ENCODER_DPI;
    default:
        return DRM_MODE_ENCODER_NONE;
    }
}

Property enum_property(uint32_t id, std::string name, uint32_t flags,
                       std::vector<std::pair<std::string, uint64_t>> enums) {
    Property p{id, std::move(name), DRM_MODE_PROP_ENUM | flags, {}, std::move(enums)};
    for (const auto &e : p.enums)
        p.values.push_back(e.second);
    return p;
}

// Property ids the device creates first, in this order.
enum CoreProperty : uint32_t {
    kPlaneType = 1,
    kZpos,
    kDpms,
    kLinkStatus,
    kNonDesktop,
    kFirstExtra
};

} // namespace

Device::Device(const Description &d)
    : universal_planes_cap_allowed_(d.universal_planes_cap), atomic_allowed_(d.atomic),
      dumb_pitch_align_(d.dumb_pitch_align), max_width_(d.max_width), max_height_(d.max_height),
      cursor_width_(d.cursor_width), cursor_height_(d.cursor_height),
      next_map_offset_(0x10000000ull) { // where the kernel's fake mmap offsets begin
    const std::vector<std::pair<std::string, uint64_t>> plane_types{
        {"Overlay", 0}, {"Primary", 1}, {"Cursor", 2}};
    properties_.push_back(enum_property(kPlaneType, "type", DRM_MODE_PROP_IMMUTABLE, plane_types));
    properties_.push_back({kZpos,
                           "zpos",
                           DRM_MODE_PROP_RANGE | DRM_MODE_PROP_IMMUTABLE,
                           {0, d.planes.empty() ? 0 : d.planes.size() - 1},
                           {}});
    properties_.push_back(
        enum_property(kDpms, "DPMS", 0, {{"On", 0}, {"Standby", 1}, {"Suspend", 2}, {"Off", 3}}));
    properties_.push_back(enum_property(kLinkStatus, "link-status", 0, {{"Good", 0}, {"Bad", 1}}));
    properties_.push_back(
        {kNonDesktop, "non-desktop", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_IMMUTABLE, {0, 1}, {}});

    // A plane's first "type" property is the shared one; any further ones
    // (a description may ask for several) are properties of their own.
    uint32_t next_property = kFirstExtra;
    std::vector<std::vector<PropertyValue>> plane_props;
    for (size_t i = 0; i < d.planes.size(); ++i) {
        std::vector<PropertyValue> props;
        for (size_t k = 0; k < d.planes[i].type_properties.size(); ++k) {
            uint32_t id = kPlaneType;
            if (k > 0) {
                id = next_property++;
                properties_.push_back(
                    enum_property(id, "type", DRM_MODE_PROP_IMMUTABLE, plane_types));
            }
            props.push_back({id, d.planes[i].type_properties[k]});
        }
        props.push_back({kZpos, i});
        plane_props.push_back(std::move(props));
    }

    // The properties atomic clients set; legacy clients never see them.
    auto add_atomic = [&](const char *name, uint32_t flags, std::vector<uint64_t> values) {
        uint32_t id = next_property++;
        properties_.push_back({id, name, flags | DRM_MODE_PROP_ATOMIC, std::move(values), {}});
        return id;
    };
    constexpr uint64_t kIntMin = uint64_t(int64_t(INT32_MIN)), kIntMax = INT32_MAX;
    prop_.active = add_atomic("ACTIVE", DRM_MODE_PROP_RANGE, {0, 1});
    prop_.mode_id = add_atomic("MODE_ID", DRM_MODE_PROP_BLOB, {});
    prop_.fb_id = add_atomic("FB_ID", DRM_MODE_PROP_OBJECT, {DRM_MODE_OBJECT_FB});
    prop_.crtc_id = add_atomic("CRTC_ID", DRM_MODE_PROP_OBJECT, {DRM_MODE_OBJECT_CRTC});
    prop_.src_x = add_atomic("SRC_X", DRM_MODE_PROP_RANGE, {0, UINT32_MAX});
    prop_.src_y = add_atomic("SRC_Y", DRM_MODE_PROP_RANGE, {0, UINT32_MAX});
    prop_.src_w = add_atomic("SRC_W", DRM_MODE_PROP_RANGE, {0, UINT32_MAX});
    prop_.src_h = add_atomic("SRC_H", DRM_MODE_PROP_RANGE, {0, UINT32_MAX});
    prop_.crtc_x = add_atomic("CRTC_X", DRM_MODE_PROP_SIGNED_RANGE, {kIntMin, kIntMax});
    prop_.crtc_y = add_atomic("CRTC_Y", DRM_MODE_PROP_SIGNED_RANGE, {kIntMin, kIntMax});
    prop_.crtc_w = add_atomic("CRTC_W", DRM_MODE_PROP_RANGE, {0, kIntMax});
    prop_.crtc_h = add_atomic("CRTC_H", DRM_MODE_PROP_RANGE, {0, kIntMax});
    // drm_crtc_enable_color_mgmt: only CRTCs with a table carry these, and
    // legacy clients see them too.
    if (d.gamma_size && d.atomic) {
        prop_.gamma_lut = next_property++;
        properties_.push_back({prop_.gamma_lut, "GAMMA_LUT", DRM_MODE_PROP_BLOB, {}, {}});
        prop_.gamma_lut_size = next_property++;
        properties_.push_back({prop_.gamma_lut_size, "GAMMA_LUT_SIZE",
                               DRM_MODE_PROP_RANGE | DRM_MODE_PROP_IMMUTABLE, {0, UINT32_MAX},
                               {}});
    }
    if (std::any_of(d.connectors.begin(), d.connectors.end(), [](const auto &c) {
            return c.type == DRM_MODE_CONNECTOR_WRITEBACK;
        }))
        add_writeback_properties(next_property);

    uint32_t next_id = std::max(kFirstObjectId, next_property);
    for (size_t i = 0; i < d.planes.size(); ++i) {
        const PlaneDescription &pd = d.planes[i];
        Plane p;
        p.id = next_id++;
        p.type = pd.type;
        p.possible_crtcs = pd.possible_crtcs;
        p.formats = pd.formats;
        p.properties = std::move(plane_props[i]);
        p.crtc = pd.crtc ? int(*pd.crtc) : -1;
        planes_.push_back(std::move(p));
    }
    for (unsigned i = 0; i < d.crtcs; ++i) {
        Crtc c;
        c.id = next_id++;
        c.reset_gamma(d.gamma_size);
        crtcs_.push_back(c);
    }
    // Each CRTC's primary plane: a primary plane placed on it, else the first
    // unclaimed primary plane that can be on it.
    std::vector<bool> claimed(planes_.size(), false);
    for (unsigned pass = 0; pass < 2; ++pass) {
        for (unsigned c = 0; c < crtcs_.size(); ++c) {
            if (crtcs_[c].primary_plane >= 0)
                continue;
            for (size_t p = 0; p < planes_.size(); ++p) {
                const Plane &pl = planes_[p];
                bool fits = pass == 0 ? pl.crtc == int(c) : (pl.possible_crtcs >> c & 1) != 0;
                if (!claimed[p] && pl.type == PlaneType::primary && fits) {
                    claimed[p] = true;
                    crtcs_[c].primary_plane = int(p);
                    break;
                }
            }
        }
    }
    std::map<uint32_t, uint32_t> per_type;
    std::vector<std::vector<unsigned>> connector_encoders;
    for (const ConnectorDescription &cd : d.connectors) {
        std::vector<unsigned> indices;
        for (const EncoderDescription &ed : cd.encoders) {
            Encoder e;
            e.id = next_id++;
            e.type = encoder_type_for(cd.type);
            e.possible_crtcs = ed.possible_crtcs;
            indices.push_back(unsigned(encoders_.size()));
            encoders_.push_back(e);
        }
        connector_encoders.push_back(std::move(indices));
    }
    for (size_t i = 0; i < d.connectors.size(); ++i) {
        const ConnectorDescription &cd = d.connectors[i];
        Connector c;
        c.id = next_id++;
        c.type = cd.type;
        c.type_id = ++per_type[cd.type];
        c.name = connector_type_name(cd.type) + "-" + std::to_string(c.type_id);
        c.connection = cd.connection;
        c.modes = cd.modes;
        c.possible_crtcs = cd.possible_crtcs;
        c.mm_width = cd.mm_width;
        c.mm_height = cd.mm_height;
        c.encoders = std::move(connector_encoders[i]);
        c.writeback_formats = cd.writeback_formats;
        connectors_.push_back(std::move(c));
    }
    first_fb_id_ = next_id;
    // The WRITEBACK_PIXEL_FORMATS blob of each writeback connector.
    for (Connector &c : connectors_) {
        if (c.writeback_formats.empty())
            continue;
        std::vector<uint8_t> bytes(c.writeback_formats.size() * sizeof(uint32_t));
        std::memcpy(bytes.data(), c.writeback_formats.data(), bytes.size());
        c.writeback_formats_blob = new_blob(std::move(bytes));
    }
}

Device::~Device() = default;

uint32_t Device::new_object_id() {
    // The kernel hands out the lowest free id.
    uint32_t id = first_fb_id_;
    while (framebuffers_.count(id) || blobs_.count(id))
        ++id;
    return id;
}

int Device::crtc_index(uint32_t id) const {
    for (size_t i = 0; i < crtcs_.size(); ++i)
        if (crtcs_[i].id == id)
            return int(i);
    return -1;
}
int Device::connector_index(uint32_t id) const {
    for (size_t i = 0; i < connectors_.size(); ++i)
        if (connectors_[i].id == id)
            return int(i);
    return -1;
}
int Device::plane_index(uint32_t id) const {
    for (size_t i = 0; i < planes_.size(); ++i)
        if (planes_[i].id == id)
            return int(i);
    return -1;
}

std::vector<uint32_t> Device::framebuffer_ids() const {
    std::vector<uint32_t> ids;
    for (const auto &[id, fb] : framebuffers_)
        ids.push_back(id);
    return ids;
}
std::vector<uint32_t> Device::dumb_handles() const {
    std::vector<uint32_t> ids;
    for (const auto &[h, bo] : handles_)
        ids.push_back(h);
    return ids;
}
std::shared_ptr<Framebuffer> Device::framebuffer(uint32_t id) const {
    auto it = framebuffers_.find(id);
    return it == framebuffers_.end() ? nullptr : it->second;
}
std::shared_ptr<Framebuffer> Device::crtc_framebuffer(unsigned crtc) const {
    const Crtc &c = crtcs_.at(crtc);
    if (c.primary_plane >= 0) {
        const Plane &p = planes_[size_t(c.primary_plane)];
        return p.crtc == int(crtc) ? p.fb : nullptr;
    }
    return c.fb;
}

void Device::release_file() {
    while (!framebuffers_.empty())
        remove_framebuffer(framebuffers_.begin()->second);
    handles_.clear();
    // The file's blobs go; one a CRTC still shows lives on with it.
    for (auto &[id, blob] : blobs_)
        blob->held_by_file = false;
    drop_unused_blobs();
}

bool Device::begin_call(const Request &request, const void *arg) {
    round_started_ = nullptr;
    if (!request.round)
        return true;
    // When every count came back zero the second ioctl has null pointers
    // too, so it is recognised by following such an answer.
    bool awaiting = awaiting_second_call_[request.number];
    awaiting_second_call_[request.number] = false;
    bool starts = (!arg || request.round->pointers_null(arg)) && !awaiting;
    if (starts)
        round_started_ = &request;
    return starts;
}

int Device::ioctl(const Request &request, void *arg) {
    if (!arg && !request.argument_optional)
        return -EFAULT;
    int r = request.handler(*this, arg);
    ++generation_;
    if (round_started_ == &request && r == 0 && request.round->counts_zero(arg))
        awaiting_second_call_[request.number] = true;
    round_started_ = nullptr;
    return r;
}

} // namespace drmsim
