// SPDX-License-Identifier: MIT
// The formats a run may show, and the refusal that names them (format_choice.h).
#include "format_choice.h"

#include "picture.h"
#include "pixel_formats.h"

namespace {

constexpr uint32_t kPrimaryPlane = 1; // "type" property value

} // namespace

kms_plane *primary_plane_of(kms_device *device, uint32_t crtc_index) {
    kms_crtc *crtc = device->crtcs[crtc_index].get();
    for (const auto &plane : device->planes)
        if (plane->type == kPrimaryPlane && plane->crtc == crtc)
            return plane.get();
    for (const auto &plane : device->planes) {
        kms_plane_state state;
        if (plane->type == kPrimaryPlane && !plane->crtc &&
            kms_plane_read_state(plane.get(), &state) == 0 &&
            (state.possible_crtcs >> crtc_index & 1))
            return plane.get();
    }
    return nullptr;
}

std::string drawable_formats(const kms_plane &plane) {
    std::string names;
    for (const uint32_t code : plane.formats)
        if (pattern::find_pixel_format(code))
            names += (names.empty() ? "" : ", ") + format_name(code);
    return names.empty() ? "none" : names;
}

std::optional<uint32_t> select_format(const kms_plane &plane, const std::string &name,
                                      std::string &error) {
    const uint32_t code = pattern::pixel_format_from_name(name.c_str());
    if (code == 0 || !kms_plane_supports_format(&plane, code)) {
        error = "format '" + name + "' is not one the plane (id " + std::to_string(plane.id) +
                ") lists and the generator draws; valid formats: " + drawable_formats(plane);
        return std::nullopt;
    }
    return code;
}

std::optional<SweepList> select_sweep(const kms_plane &plane, const std::vector<std::string> &names,
                                      std::string &error) {
    SweepList list;
    if (names.empty()) {
        for (const uint32_t code : plane.formats)
            (pattern::find_pixel_format(code) ? list.formats : list.skipped).push_back(code);
        return list;
    }
    for (const std::string &name : names) {
        const std::optional<uint32_t> code = select_format(plane, name, error);
        if (!code)
            return std::nullopt;
        list.formats.push_back(*code);
    }
    return list;
}
