// SPDX-License-Identifier: MIT
// --list: the device's screens, CRTCs, encoders and planes, as listing.h says.
#include "listing.h"

#include <algorithm>
#include <string>
#include <vector>

#include "kms_text.h"
#include "plane_choice.h"

namespace {

// "none" for 0, else as crtc_text.
std::string crtc_or_none(const kms_device &device, uint32_t id) {
    return id == 0 ? "none" : crtc_text(device, id);
}

struct ListedEncoder {
    kms_encoder_state state;
    std::vector<std::string> screens;
};

} // namespace

void print_listing(kms_device *device, const kms_screen *only, std::FILE *out) {
    const uint32_t crtc_count = device->num_crtcs();
    std::vector<ListedEncoder> encoders;

    std::fprintf(out, "screens:\n");
    for (uint32_t i = 0; i < device->num_screens(); ++i) {
        const kms_screen &screen = *device->screens[i];
        if (only && &screen != only)
            continue;
        kms_screen_state state;
        if (int err = kms_screen_read_state(&screen, &state); err < 0) {
            std::fprintf(out, "  %u %s (%s): id %u, cannot read its state: %d\n", i,
                         screen.name.c_str(), screen.kernel_name.c_str(), screen.id, err);
            continue;
        }
        // Piece by piece: GCC 12 -O3 wrongly warns (-Wrestrict) on " " + a temporary.
        std::string modes;
        for (const drmModeModeInfo &mode : state.modes) {
            modes += ' ';
            modes += mode_text(mode);
        }
        std::fprintf(out, "  %u %s (%s): id %u, %s, modes%s\n", i, screen.name.c_str(),
                     screen.kernel_name.c_str(), screen.id, connection_name(screen),
                     modes.empty() ? " none" : modes.c_str());
        for (const kms_encoder_state &encoder : state.encoders) {
            auto listed = std::find_if(encoders.begin(), encoders.end(),
                                       [&](const auto &e) { return e.state.id == encoder.id; });
            if (listed == encoders.end())
                listed = encoders.insert(encoders.end(), {encoder, {}});
            listed->screens.push_back(screen.name +
                                      (encoder.id == state.encoder_id ? " (in use)" : ""));
        }
    }

    std::fprintf(out, "crtcs:\n");
    for (uint32_t i = 0; i < crtc_count; ++i) {
        const kms_crtc &crtc = *device->crtcs[i];
        kms_crtc_state state;
        if (int err = kms_crtc_read_state(&crtc, &state); err < 0)
            std::fprintf(out, "  %u: id %u, cannot read its state: %d\n", i, crtc.id, err);
        else if (!state.mode_valid && state.fb_id == 0)
            std::fprintf(out, "  %u: id %u, inactive\n", i, crtc.id);
        else if (!state.mode_valid) // a driver that leaves the plane on
            std::fprintf(out, "  %u: id %u, inactive, framebuffer %u at %u,%u\n", i, crtc.id,
                         state.fb_id, state.x, state.y);
        else
            std::fprintf(out, "  %u: id %u, active, mode %s, framebuffer %u at %u,%u\n", i, crtc.id,
                         mode_text(state.mode).c_str(), state.fb_id, state.x, state.y);
    }

    std::fprintf(out, "encoders:\n");
    for (const ListedEncoder &encoder : encoders) {
        std::string screens;
        for (const std::string &name : encoder.screens)
            screens += (screens.empty() ? "" : ", ") + name;
        std::fprintf(out, "  id %u: crtc %s, possible crtcs %s, screens %s\n", encoder.state.id,
                     crtc_or_none(*device, encoder.state.crtc_id).c_str(),
                     index_list(encoder.state.possible_crtcs, crtc_count).c_str(), screens.c_str());
    }

    std::fprintf(out, "planes:\n");
    for (uint32_t i = 0; i < device->num_planes(); ++i) {
        const kms_plane &plane = *device->planes[i];
        std::string formats;
        for (uint32_t format : plane.formats) { // as the modes above
            formats += ' ';
            formats += fourcc_text(format);
        }
        kms_plane_state state;
        if (int err = kms_plane_read_state(&plane, &state); err < 0) {
            std::fprintf(out, "  %u: id %u, %s, cannot read its state: %d\n", i, plane.id,
                         plane_kind_name(plane.type), err);
            continue;
        }
        const std::string shown =
            state.fb_id ? ", framebuffer " + std::to_string(state.fb_id) : std::string();
        std::fprintf(out, "  %u: id %u, %s, crtc %s%s, possible crtcs %s, formats%s\n", i, plane.id,
                     plane_kind_name(plane.type), crtc_or_none(*device, state.crtc_id).c_str(),
                     shown.c_str(), index_list(state.possible_crtcs, crtc_count).c_str(),
                     formats.empty() ? " none" : formats.c_str());
    }
}
