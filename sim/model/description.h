// SPDX-License-Identifier: MIT
// The JSON description a simulated device is built from (format in
// sim/README.md), parsed into plain records with every default filled in.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <drm_mode.h>

namespace drmsim {

struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class PlaneType : uint32_t { overlay = 0, primary = 1, cursor = 2 };

struct EncoderDescription {
    uint32_t possible_crtcs = 0; // bit i: CRTC i can feed it
};

struct ConnectorDescription {
    uint32_t type = DRM_MODE_CONNECTOR_Unknown;
    uint32_t connection = 2; // 1 connected, 2 disconnected, 3 unknown
    std::vector<drm_mode_modeinfo> modes;
    uint32_t possible_crtcs = 0; // bit i: CRTC i can drive it
    // At least one; by default a single one with the connector's mask.
    std::vector<EncoderDescription> encoders;
    uint32_t mm_width = 0;
    uint32_t mm_height = 0;
    // Writeback connectors only: the formats a capture can be written in.
    std::vector<uint32_t> writeback_formats;
};

struct PlaneDescription {
    PlaneType type = PlaneType::overlay;
    uint32_t possible_crtcs = 0;
    std::optional<unsigned> crtc; // CRTC index the plane is on at start
    std::vector<uint32_t> formats;
    // Values of the "type" properties the plane reports, in order. Normally
    // one entry, the plane's own type.
    std::vector<uint64_t> type_properties;
};

struct Description {
    unsigned crtcs = 0;
    std::vector<ConnectorDescription> connectors;
    std::vector<PlaneDescription> planes;
    uint32_t dumb_pitch_align = 256;
    bool universal_planes_cap = true;
    bool atomic = true; // false: a legacy-only driver (radeon) refuses atomic
    uint32_t max_width = 8192;
    uint32_t max_height = 8192;
    uint32_t gamma_size = 0;     // entries of each CRTC's colour lookup table
    uint32_t cursor_width = 64;  // DRM_CAP_CURSOR_WIDTH
    uint32_t cursor_height = 64; // DRM_CAP_CURSOR_HEIGHT
};

// Throws DescriptionError with a readable reason; for text that is not valid
// JSON, "line L: not valid JSON: ...".
Description parse_description(std::string_view json_text);

// True when the text means to be a device description, valid or not: a JSON
// object with "crtcs" or "connectors", or text that is not valid JSON but
// starts, after blanks and comments, with '{'.
bool looks_like_description(std::string_view json_text);

// Kernel names of connector types ("HDMI-A", "DP", ...); "Unknown<n>" past
// the end of the kernel's list.
std::string connector_type_name(uint32_t type);

// Timings for "1920x1080@60": the CEA/VESA timings for common sizes, a
// reduced-blanking approximation for others. Name is "WxH".
drm_mode_modeinfo make_mode(uint32_t width, uint32_t height, uint32_t refresh_hz);

// Sets the mode's name field, cut to fit with its NUL.
void set_mode_name(drm_mode_modeinfo &mode, const std::string &name);

} // namespace drmsim
