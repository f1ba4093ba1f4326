// SPDX-License-Identifier: MIT
// Modes, CRTCs, format codes and index sets in words (kms_text.h).
#include "kms_text.h"

std::string mode_text(uint32_t width, uint32_t height, uint32_t refresh_hz) {
    return std::to_string(width) + "x" + std::to_string(height) + "@" + std::to_string(refresh_hz);
}

std::string scan_letter(uint32_t flags) {
    if (flags & DRM_MODE_FLAG_INTERLACE)
        return "i";
    if (flags & DRM_MODE_FLAG_DBLSCAN)
        return "d";
    return "";
}

std::string mode_text(const drmModeModeInfo &mode) {
    if (mode.hdisplay == 0 && mode.vdisplay == 0)
        return "no modes";
    return std::to_string(mode.hdisplay) + "x" + std::to_string(mode.vdisplay) +
           scan_letter(mode.flags) + "@" + std::to_string(mode.vrefresh);
}

const char *connection_name(const kms_screen &screen) {
    switch (screen.connection) {
    case DRM_MODE_CONNECTED:
        return "connected";
    case DRM_MODE_UNKNOWNCONNECTION:
        return "unknown";
    default:
        return "disconnected";
    }
}

std::optional<uint32_t> crtc_index(const kms_device &device, uint32_t id) {
    for (uint32_t i = 0; i < device.num_crtcs(); ++i)
        if (device.crtcs[i]->id == id)
            return i;
    return std::nullopt;
}

std::string crtc_text(const kms_device &device, uint32_t id) {
    const std::string with_id = "id " + std::to_string(id);
    const std::optional<uint32_t> index = crtc_index(device, id);
    return index ? std::to_string(*index) + " (" + with_id + ")" : with_id;
}

std::string fourcc_text(uint32_t code) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char(code >> shift & 0xff);
        text += c >= ' ' && c <= '~' ? c : '?';
    }
    // Short codes are padded with blanks ("C8  "); their names are not.
    while (text.size() > 1 && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string index_list(uint32_t mask, uint32_t count) {
    std::string list;
    for (uint32_t i = 0; i < count && i < 32; ++i)
        if (mask >> i & 1)
            list += (list.empty() ? "" : ", ") + std::to_string(i);
    return list.empty() ? "none" : list;
}

const char *atomic_step_name(kms_atomic_step step) {
    switch (step) {
    case kms_atomic_step::none:
        return "none";
    case kms_atomic_step::arguments:
        return "arguments";
    case kms_atomic_step::plane:
        return "plane";
    case kms_atomic_step::property:
        return "property";
    case kms_atomic_step::mode_blob:
        return "mode_blob";
    case kms_atomic_step::request:
        return "request";
    case kms_atomic_step::commit:
        return "commit";
    }
    return "?";
}
