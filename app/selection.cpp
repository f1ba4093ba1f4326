// SPDX-License-Identifier: MIT
// The screen, mode and CRTCs the options pick on the open device.
#include "selection.h"

#include <charconv>

#include "kms_text.h"

namespace {

std::string screen_summary(uint32_t index, const kms_screen &screen) {
    return std::to_string(index) + " " + screen.name + " (" +
           (screen.connected ? "connected" : "disconnected") + ", " + mode_text(screen.mode) + ")";
}

bool matches(const drmModeModeInfo &mode, const ModeRequest &wanted) {
    return mode.hdisplay == wanted.width && mode.vdisplay == wanted.height &&
           (!wanted.refresh_hz || mode.vrefresh == *wanted.refresh_hz);
}

} // namespace

kms_screen *select_screen(kms_device *device, const std::optional<std::string> &wanted,
                          std::string &error) {
    if (!wanted)
        return device->screens[0].get();
    for (const auto &screen : device->screens)
        if (screen->name == *wanted)
            return screen.get();
    uint32_t index = 0;
    const char *end = wanted->data() + wanted->size();
    auto [stop, ec] = std::from_chars(wanted->data(), end, index);
    if (ec == std::errc() && stop == end && index < device->num_screens())
        return device->screens[index].get();

    std::string screens;
    for (uint32_t i = 0; i < device->num_screens(); ++i)
        screens += (i ? "; " : "") + screen_summary(i, *device->screens[i]);
    error = "unknown screen '" + *wanted + "' for --screen; screens: " + screens;
    return nullptr;
}

bool select_mode(kms_screen *screen, const std::optional<ModeRequest> &wanted, std::string &error) {
    if (!wanted)
        return true;
    kms_screen_state state;
    if (int err = kms_screen_read_state(screen, &state); err < 0) {
        error = "cannot read the modes of screen " + screen->name + ": " + std::to_string(err);
        return false;
    }
    for (const drmModeModeInfo &mode : state.modes)
        if (matches(mode, *wanted)) {
            screen->mode = mode;
            screen->width = mode.hdisplay;
            screen->height = mode.vdisplay;
            return true;
        }
    std::string modes;
    for (const drmModeModeInfo &mode : state.modes)
        modes += (modes.empty() ? "" : ", ") + mode_text(mode);
    const std::string text =
        wanted->refresh_hz ? mode_text(wanted->width, wanted->height, *wanted->refresh_hz)
                           : std::to_string(wanted->width) + "x" + std::to_string(wanted->height);
    error = "unknown mode '" + text + "' for --mode on screen " + screen->name +
            "; its modes: " + (modes.empty() ? "none" : modes);
    return false;
}

std::vector<uint32_t> select_crtcs(kms_screen *screen, const RelayOptions &options,
                                   std::string &error) {
    const uint32_t count = screen->device->num_crtcs();
    std::vector<uint32_t> crtcs;
    if (options.crtcs) {
        for (uint32_t index : *options.crtcs) {
            if (index >= count) {
                error = "no CRTC " + std::to_string(index) + " for --crtcs; the device has " +
                        std::to_string(count) + " (indices 0 to " + std::to_string(count - 1) + ")";
                return {};
            }
            crtcs.push_back(index);
        }
    } else {
        for (uint32_t index = 0; index < count; ++index)
            crtcs.push_back(index);
    }
    if (!options.capable)
        return crtcs;

    kms_screen_state state;
    if (int err = kms_screen_read_state(screen, &state); err < 0) {
        error = "cannot read the encoders of screen " + screen->name +
                " for --capable: " + std::to_string(err);
        return {};
    }
    const uint32_t possible = kms_screen_state_possible_crtcs(&state);
    std::erase_if(crtcs, [&](uint32_t index) { return index >= 32 || !(possible >> index & 1); });
    if (crtcs.empty())
        error = "--capable leaves no CRTC: the encoders of screen " + screen->name +
                " can be fed by CRTCs " + index_list(possible, count) +
                (options.crtcs ? ", none of them in --crtcs" : "");
    return crtcs;
}
