// SPDX-License-Identifier: MIT
// The screen, mode and CRTCs the options pick on the open device.
#include "selection.h"

#include <charconv>

#include "kms_text.h"

namespace {

std::string screen_summary(uint32_t index, const kms_screen &screen) {
    return std::to_string(index) + " " + screen.name + " (" + screen.kernel_name + ", id " +
           std::to_string(screen.id) + ", " + connection_name(screen) + ", " +
           mode_text(screen.mode) + ")";
}

bool matches(const drmModeModeInfo &mode, const ModeRequest &wanted) {
    return mode.hdisplay == wanted.width && mode.vdisplay == wanted.height &&
           scan_letter(mode.flags) == wanted.scan &&
           (!wanted.refresh_hz || mode.vrefresh == *wanted.refresh_hz);
}

std::optional<uint32_t> whole_number(const std::string &text) {
    uint32_t value = 0;
    const char *end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

} // namespace

kms_screen *select_screen(kms_device *device, const std::optional<std::string> &wanted,
                          SelectionError &error) {
    if (!wanted)
        return device->screens[0].get();
    kms_screen *by_name = nullptr, *by_kernel_name = nullptr, *by_number = nullptr;
    for (const auto &screen : device->screens) {
        if (screen->name == *wanted)
            by_name = screen.get();
        if (screen->kernel_name == *wanted)
            by_kernel_name = screen.get();
    }
    if (const std::optional<uint32_t> number = whole_number(*wanted)) {
        if (*number < device->num_screens())
            by_number = device->screens[*number].get();
        else
            for (const auto &screen : device->screens)
                if (screen->id == *number)
                    by_number = screen.get();
    }
    // Our names count from 0 and the kernel's from 1: "HDMI-A-1" can be
    // one screen's name and another's kernel name.
    if (by_name && by_kernel_name && by_name != by_kernel_name) {
        error.message = "screen '" + *wanted + "' for --screen is ambiguous: " + by_name->name +
                        " (connector id " + std::to_string(by_name->id) + "), or " +
                        by_kernel_name->name + " (connector id " +
                        std::to_string(by_kernel_name->id) +
                        ") as the kernel names it; give the connector id";
        return nullptr;
    }
    if (kms_screen *found = by_name ? by_name : by_kernel_name ? by_kernel_name : by_number)
        return found;

    std::string screens;
    for (uint32_t i = 0; i < device->num_screens(); ++i)
        screens += (i ? "; " : "") + screen_summary(i, *device->screens[i]);
    error.message = "unknown screen '" + *wanted + "' for --screen; screens: " + screens;
    return nullptr;
}

bool select_mode(kms_screen *screen, const std::optional<ModeRequest> &wanted,
                 SelectionError &error) {
    const kms_device &device = *screen->device;
    if (screen->mode.hdisplay == 0 && screen->mode.vdisplay == 0) {
        std::string with_modes;
        for (uint32_t i = 0; i < device.num_screens(); ++i)
            if (device.screens[i]->mode.hdisplay != 0)
                with_modes += (with_modes.empty() ? "" : ", ") + std::to_string(i) + " " +
                              device.screens[i]->name;
        error.message = "screen " + screen->name + " has no modes; screens with modes: " +
                        (with_modes.empty() ? "none" : with_modes) + " (--screen chooses)";
        return false;
    }
    if (wanted) {
        kms_screen_state state;
        if (int err = kms_screen_read_state(screen, &state); err < 0) {
            error = {"cannot read the modes of screen " + screen->name + ": " +
                         std::to_string(err),
                     1};
            return false;
        }
        const drmModeModeInfo *found = nullptr;
        for (const drmModeModeInfo &mode : state.modes)
            if (!found && matches(mode, *wanted))
                found = &mode;
        if (!found) {
            std::string modes;
            for (const drmModeModeInfo &mode : state.modes)
                modes += (modes.empty() ? "" : ", ") + mode_text(mode);
            // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about
            // "@" + a temporary string, wrongly.
            std::string text = std::to_string(wanted->width);
            text += 'x';
            text += std::to_string(wanted->height);
            text += wanted->scan;
            if (wanted->refresh_hz) {
                text += '@';
                text += std::to_string(*wanted->refresh_hz);
            }
            error.message = "unknown mode '" + text + "' for --mode on screen " + screen->name +
                            "; its modes: " + (modes.empty() ? "none" : modes);
            return false;
        }
        screen->mode = *found;
        screen->width = found->hdisplay;
        screen->height = found->vdisplay;
    }
    if ((device.max_width && screen->width > device.max_width) ||
        (device.max_height && screen->height > device.max_height)) {
        error.message = "mode " + mode_text(screen->mode) + " of screen " + screen->name +
                        " is larger than the device's largest framebuffer, " +
                        std::to_string(device.max_width) + "x" +
                        std::to_string(device.max_height) + " (--mode chooses another)";
        return false;
    }
    return true;
}

std::vector<uint32_t> select_crtcs(kms_screen *screen, const RelayOptions &options,
                                   SelectionError &error) {
    const uint32_t count = screen->device->num_crtcs();
    std::vector<uint32_t> crtcs;
    if (options.crtcs) {
        for (uint32_t index : *options.crtcs) {
            if (index >= count) {
                error.message = "no CRTC " + std::to_string(index) +
                                " for --crtcs; the device has " + std::to_string(count) +
                                " (indices 0 to " + std::to_string(count - 1) + ")";
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
        error = {"cannot read the encoders of screen " + screen->name +
                     " for --capable: " + std::to_string(err),
                 1};
        return {};
    }
    const uint32_t possible = kms_screen_state_possible_crtcs(&state);
    const auto incapable = [&](uint32_t index) { return index >= 32 || !(possible >> index & 1); };
    const std::string fed_by = "the encoders of screen " + screen->name +
                               " can be fed by CRTCs " + index_list(possible, count);
    if (options.crtcs) {
        // A list given by hand is what the user means to test: say which
        // entries cannot be, rather than dropping them.
        uint32_t refused_mask = 0;
        for (uint32_t index : crtcs)
            if (incapable(index))
                refused_mask |= 1u << index;
        if (refused_mask) {
            error.message = std::string("--capable: ") +
                            (refused_mask & (refused_mask - 1) ? "CRTCs " : "CRTC ") +
                            index_list(refused_mask, count) + " in --crtcs cannot drive screen " +
                            screen->name + "; " + fed_by;
            return {};
        }
    }
    std::erase_if(crtcs, incapable);
    if (crtcs.empty())
        error.message = "--capable leaves no CRTC: " + fed_by;
    return crtcs;
}
