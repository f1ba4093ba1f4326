// SPDX-License-Identifier: MIT
// The values crtc-relay's options take, parsed from their text: each
// returns nothing (or false) for text that is not such a value.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <time.h>

#include "options.h"

// A plain decimal: digits only, no sign, no blanks, at most `max`.
template <typename T>
std::optional<T> parse_decimal(std::string_view text, T max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

// WxH, then i (interlaced) or d (doublescan), then @Hz; each within range.
std::optional<ModeRequest> parse_mode(std::string_view text);
// Decimal seconds with up to nine decimals (".5", "5", "0.25"), more than 0
// and at most a day.
std::optional<timespec> parse_period(std::string_view text);
// CRTC indices separated by commas.
std::optional<std::vector<uint32_t>> parse_crtc_list(std::string_view text);
// --verify's value: state, crc and writeback, separated by commas.
bool parse_checks(std::string_view text, RelayOptions &options);
// "all" (empty list), or format names separated by commas, none empty.
std::optional<std::vector<std::string>> parse_format_list(std::string_view text);
// primary, cursor, overlay, overlay:K or a plane index.
std::optional<PlaneRequest> parse_plane(std::string_view text);
// "X,Y", each a decimal with an optional minus sign, within +-65535.
std::optional<std::pair<int32_t, int32_t>> parse_position(std::string_view text);
