// SPDX-License-Identifier: MIT
// The plane that shows the pattern on each CRTC of the plan (plane_choice.h).
#include "plane_choice.h"

namespace {

constexpr uint32_t kOverlay = 0, kPrimary = 1, kCursor = 2; // "type" property values

uint32_t possible_crtcs(const kms_plane &plane) {
    kms_plane_state state;
    return kms_plane_read_state(&plane, &state) == 0 ? state.possible_crtcs : 0;
}

// The plane --plane names, or nullptr with `error` set.
kms_plane *named_plane(kms_device *device, const PlaneRequest &request, std::string &error) {
    using Kind = PlaneRequest::Kind;
    if (request.kind == Kind::index) {
        if (request.number >= device->num_planes()) {
            error = "no plane " + std::to_string(request.number) + " for --plane; the device has " +
                    std::to_string(device->num_planes()) + " (--list shows them)";
            return nullptr;
        }
        kms_plane *plane = device->planes[request.number].get();
        if (plane->type == kPrimary) {
            error = "plane " + std::to_string(request.number) +
                    " is a primary plane; --plane primary shows the pattern on the primary "
                    "planes";
            return nullptr;
        }
        return plane;
    }
    const uint32_t type = request.kind == Kind::cursor ? kCursor : kOverlay;
    kms_plane *plane = kms_device_find_plane_by_type(device, type, request.number);
    if (!plane) {
        uint32_t count = 0;
        while (kms_device_find_plane_by_type(device, type, count))
            ++count;
        error = "no " + std::string(plane_kind_name(type)) + " plane " +
                std::to_string(request.number) + " for --plane; the device has " +
                std::to_string(count);
    }
    return plane;
}

} // namespace

const char *plane_kind_name(uint32_t type) {
    switch (type) {
    case kPrimary:
        return "primary";
    case kCursor:
        return "cursor";
    default:
        return "overlay";
    }
}

std::optional<std::vector<kms_plane *>> select_planes(kms_device *device,
                                                      const PlaneRequest &request, bool capable,
                                                      std::vector<uint32_t> &crtcs,
                                                      std::string &error) {
    std::vector<kms_plane *> planes;
    if (request.kind == PlaneRequest::Kind::primary)
        return planes;
    kms_plane *named = named_plane(device, request, error);
    if (!named)
        return std::nullopt;
    std::vector<uint32_t> kept;
    for (const uint32_t crtc : crtcs) {
        kms_plane *chosen = (possible_crtcs(*named) >> crtc & 1) ? named : nullptr;
        for (size_t i = 0; !chosen && i < device->planes.size(); ++i) {
            kms_plane *other = device->planes[i].get();
            if (other->type == named->type && (possible_crtcs(*other) >> crtc & 1))
                chosen = other;
        }
        if (chosen) {
            planes.push_back(chosen);
            kept.push_back(crtc);
        } else if (!capable) {
            error = "CRTC " + std::to_string(crtc) + " has no " + plane_kind_name(named->type) +
                    " plane for --plane (plane id " + std::to_string(named->id) +
                    " cannot sit on it); --capable leaves such CRTCs out";
            return std::nullopt;
        }
    }
    if (kept.empty()) {
        error = "--capable leaves no CRTC: none of them has a " +
                std::string(plane_kind_name(named->type)) + " plane for --plane";
        return std::nullopt;
    }
    crtcs = std::move(kept);
    return planes;
}
