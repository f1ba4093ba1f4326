// SPDX-License-Identifier: MIT
// errno values and counts as the environment variables and messages spell them.
#include "errno_text.h"

#include <charconv>
#include <cstring>

namespace drmsim {

std::string errno_name(int err) {
    const char *name = strerrorname_np(err);
    return name ? name : std::to_string(err);
}

std::optional<unsigned> parse_unsigned(std::string_view text) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

std::optional<int> parse_errno(std::string_view text) {
    if (auto n = parse_unsigned(text); n && *n > 0 && *n < 4096)
        return int(*n);
    for (int e = 1; e < 200; ++e) {
        const char *name = strerrorname_np(e);
        if (name && text == name)
            return e;
    }
    return std::nullopt;
}

} // namespace drmsim
