// SPDX-License-Identifier: MIT
// Connector names as the kernel spells them: type name and per-type number.
#include "connector_names.h"

#include <array>

#include <xf86drmMode.h>

namespace kms_detail {
namespace {

// KMS connector types 0..16, names as users know them from other tools.
constexpr std::array<std::string_view, 17> kConnectorTypeNames = {
    "Unknown", "VGA",  "DVI-I",     "DVI-D",   "DVI-A",       "Composite",
    "SVIDEO",  "LVDS", "Component", "9PinDIN", "DisplayPort", "HDMI-A",
    "HDMI-B",  "TV",   "eDP",       "Virtual", "DSI",
};

constexpr std::string_view kUnknownName = kConnectorTypeNames[0];

// The kernel's own names (drm_connector_enum_list), as in its connector
// names "HDMI-A-1" and in /sys/class/drm.
constexpr std::array<std::string_view, 21> kKernelConnectorTypeNames = {
    "Unknown", "VGA", "DVI-I",  "DVI-D",  "DVI-A", "Composite", "SVIDEO",
    "LVDS",    "Component", "DIN", "DP", "HDMI-A", "HDMI-B", "TV",
    "eDP",     "Virtual", "DSI", "DPI", "Writeback", "SPI", "USB",
};

} // namespace

std::string_view connector_type_name(uint32_t type) {
    if (type < kConnectorTypeNames.size())
        return kConnectorTypeNames[type];
    // Later kernels added types; libdrm knows the ones of its own era.
    if (const char *name = drmModeGetConnectorTypeName(type))
        return name;
    return kUnknownName;
}

std::string_view kernel_connector_type_name(uint32_t type) {
    return type < kKernelConnectorTypeNames.size() ? kKernelConnectorTypeNames[type]
                                                   : kUnknownName;
}

std::string ScreenNamer::peek(uint32_t type) const {
    const std::string_view name = connector_type_name(type);
    const auto it = next_number_.find(name);
    const uint32_t number = it == next_number_.end() ? 0 : it->second;
    std::string text(name);
    text += '-';
    text += std::to_string(number);
    return text;
}

void ScreenNamer::advance(uint32_t type) {
    ++next_number_[connector_type_name(type)];
}

} // namespace kms_detail
