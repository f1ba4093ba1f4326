// SPDX-License-Identifier: MIT
// errno names and plain numbers, read from and written into text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace drmsim {

// "EINVAL" for EINVAL; the number as text when it has no name.
std::string errno_name(int err);
// Accepts "EINVAL" or "22"; nullopt otherwise.
std::optional<int> parse_errno(std::string_view text);
// A number in decimal, nothing else; nullopt otherwise.
std::optional<unsigned> parse_unsigned(std::string_view text);

} // namespace drmsim
