// SPDX-License-Identifier: MIT
// --list --json: the facts of --list as one JSON document, for a CI to pick
// a screen with jq. The schema is in the README ("--list --json").
#include "listing.h"

#include <string>

#include <nlohmann/json.hpp>
#include <xf86drm.h>

#include "kms_text.h"
#include "plane_choice.h"

using nlohmann::json;

namespace {

json crtc_index_or_null(const kms_device &device, uint32_t id) {
    const std::optional<uint32_t> index = crtc_index(device, id);
    return id != 0 && index ? json(*index) : json(nullptr);
}

json index_array(uint32_t mask, uint32_t count) {
    json indices = json::array();
    for (uint32_t i = 0; i < count && i < 32; ++i)
        if (mask >> i & 1)
            indices.push_back(i);
    return indices;
}

json mode_json(const drmModeModeInfo &mode) {
    return {{"text", mode_text(mode)},
            {"width", mode.hdisplay},
            {"height", mode.vdisplay},
            {"refresh", mode.vrefresh},
            {"interlaced", (mode.flags & DRM_MODE_FLAG_INTERLACE) != 0},
            {"doublescan", (mode.flags & DRM_MODE_FLAG_DBLSCAN) != 0},
            {"preferred", (mode.type & DRM_MODE_TYPE_PREFERRED) != 0}};
}

json driver_json(int fd) {
    json driver{{"name", nullptr}, {"version", nullptr}, {"date", nullptr}};
    if (drmVersionPtr version = drmGetVersion(fd)) {
        driver["name"] = std::string(version->name, size_t(std::max(version->name_len, 0)));
        driver["version"] = std::to_string(version->version_major) + "." +
                            std::to_string(version->version_minor) + "." +
                            std::to_string(version->version_patchlevel);
        driver["date"] = std::string(version->date, size_t(std::max(version->date_len, 0)));
        drmFreeVersion(version);
    }
    return driver;
}

} // namespace

void print_listing_json(kms_device *device, const kms_screen *only, std::FILE *out) {
    const uint32_t crtc_count = device->num_crtcs();
    json screens = json::array(), encoders = json::array();
    for (uint32_t i = 0; i < device->num_screens(); ++i) {
        const kms_screen &screen = *device->screens[i];
        if (only && &screen != only)
            continue;
        json entry{{"index", i},
                   {"name", screen.name},
                   {"kernel_name", screen.kernel_name},
                   {"id", screen.id},
                   {"connection", connection_name(screen)},
                   {"modes", json::array()},
                   {"encoder", nullptr},
                   {"error", nullptr}};
        kms_screen_state state;
        if (int err = kms_screen_read_state(&screen, &state); err < 0) {
            entry["error"] = err;
            screens.push_back(entry);
            continue;
        }
        for (const drmModeModeInfo &mode : state.modes)
            entry["modes"].push_back(mode_json(mode));
        if (state.encoder_id)
            entry["encoder"] = state.encoder_id;
        for (const kms_encoder_state &encoder : state.encoders) {
            json *listed = nullptr;
            for (json &e : encoders)
                if (e.at("id") == encoder.id)
                    listed = &e;
            if (!listed) {
                encoders.push_back({{"id", encoder.id},
                                    {"crtc", crtc_index_or_null(*device, encoder.crtc_id)},
                                    {"possible_crtcs", index_array(encoder.possible_crtcs, crtc_count)},
                                    {"screens", json::array()}});
                listed = &encoders.back();
            }
            (*listed)["screens"].push_back(i);
        }
        screens.push_back(entry);
    }

    json crtcs = json::array();
    for (uint32_t i = 0; i < crtc_count; ++i) {
        const kms_crtc &crtc = *device->crtcs[i];
        json entry{{"index", i}, {"id", crtc.id}, {"active", false}, {"mode", nullptr},
                   {"framebuffer", 0}, {"x", 0}, {"y", 0}, {"error", nullptr}};
        kms_crtc_state state;
        if (int err = kms_crtc_read_state(&crtc, &state); err < 0) {
            entry["error"] = err;
        } else {
            entry["active"] = state.mode_valid;
            if (state.mode_valid)
                entry["mode"] = mode_json(state.mode);
            entry["framebuffer"] = state.fb_id;
            entry["x"] = state.x;
            entry["y"] = state.y;
        }
        crtcs.push_back(entry);
    }

    json planes = json::array();
    for (uint32_t i = 0; i < device->num_planes(); ++i) {
        const kms_plane &plane = *device->planes[i];
        json formats = json::array();
        for (uint32_t format : plane.formats)
            formats.push_back(fourcc_text(format));
        json entry{{"index", i}, {"id", plane.id}, {"type", plane_kind_name(plane.type)},
                   {"crtc", nullptr}, {"framebuffer", 0}, {"possible_crtcs", json::array()},
                   {"formats", formats}, {"error", nullptr}};
        kms_plane_state state;
        if (int err = kms_plane_read_state(&plane, &state); err < 0) {
            entry["error"] = err;
        } else {
            entry["crtc"] = crtc_index_or_null(*device, state.crtc_id);
            entry["framebuffer"] = state.fb_id;
            entry["possible_crtcs"] = index_array(state.possible_crtcs, crtc_count);
        }
        planes.push_back(entry);
    }

    const json listing{{"driver", driver_json(device->fd)},
                       {"screens", screens},
                       {"crtcs", crtcs},
                       {"encoders", encoders},
                       {"planes", planes}};
    // Kernel text (a mode name) need not be UTF-8: replaced, never thrown.
    std::fprintf(out, "%s\n", listing.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}
