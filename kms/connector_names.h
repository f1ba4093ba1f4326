// SPDX-License-Identifier: MIT
// Human-readable screen names: the connector type's name and a number that
// counts connectors of that name from 0, e.g. "HDMI-A-0", "HDMI-A-1".
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace kms_detail {

// Name of a KMS connector type; "Unknown" for a type nobody has named.
std::string_view connector_type_name(uint32_t type);

// The kernel's name of a connector type ("DP" where we say "DisplayPort").
std::string_view kernel_connector_type_name(uint32_t type);

// Hands out "<type name>-<n>" with n counting from 0 per name. Connector
// types without a name of their own all count as "Unknown", so no two screens
// of one device share a name.
class ScreenNamer {
public:
    // The name the next connector of this type would get.
    std::string peek(uint32_t type) const;
    // Consumes that number: call once the name has been stored.
    void advance(uint32_t type);

private:
    std::map<std::string_view, uint32_t> next_number_;
};

} // namespace kms_detail
