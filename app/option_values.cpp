// SPDX-License-Identifier: MIT
// The values crtc-relay's options take, parsed from their text.
#include "option_values.h"

std::optional<ModeRequest> parse_mode(std::string_view text) {
    const size_t x = text.find('x');
    if (x == std::string_view::npos)
        return std::nullopt;
    const size_t at = text.find('@', x);
    ModeRequest mode;
    auto width = parse_decimal<uint32_t>(text.substr(0, x), 0xffff);
    std::string_view height_text = text.substr(x + 1, at == text.npos ? at : at - x - 1);
    if (height_text.ends_with('i') || height_text.ends_with('d')) {
        mode.scan = height_text.back();
        height_text.remove_suffix(1);
    }
    auto height = parse_decimal<uint32_t>(height_text, 0xffff);
    if (!width || !height || *width == 0 || *height == 0)
        return std::nullopt;
    mode.width = *width;
    mode.height = *height;
    if (at != std::string_view::npos) {
        auto hz = parse_decimal<uint32_t>(text.substr(at + 1), 1000);
        if (!hz || *hz == 0)
            return std::nullopt;
        mode.refresh_hz = *hz;
    }
    return mode;
}

// Decimal seconds with up to nine decimals ("5", "0.25"), more than 0 and at
// most a day.
std::optional<timespec> parse_period(std::string_view text) {
    const size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    std::string_view fraction = dot == text.npos ? std::string_view() : text.substr(dot + 1);
    if (dot != text.npos && (fraction.empty() || fraction.size() > 9))
        return std::nullopt;
    // ".5" is half a second; "5." is not a number.
    auto seconds = whole.empty() && !fraction.empty() ? std::optional<uint64_t>(0)
                                                      : parse_decimal<uint64_t>(whole, 86400);
    if (!seconds)
        return std::nullopt;
    long nanoseconds = 0;
    if (!fraction.empty()) {
        auto digits = parse_decimal<long>(fraction, 999'999'999);
        if (!digits)
            return std::nullopt;
        nanoseconds = *digits;
        for (size_t i = fraction.size(); i < 9; ++i)
            nanoseconds *= 10;
    }
    if ((*seconds == 0 && nanoseconds == 0) || (*seconds == 86400 && nanoseconds != 0))
        return std::nullopt;
    return timespec{time_t(*seconds), nanoseconds};
}

std::optional<std::vector<uint32_t>> parse_crtc_list(std::string_view text) {
    std::vector<uint32_t> indices;
    for (;;) {
        const size_t comma = text.find(',');
        auto index = parse_decimal<uint32_t>(text.substr(0, comma), UINT32_MAX);
        if (!index)
            return std::nullopt;
        indices.push_back(*index);
        if (comma == std::string_view::npos)
            return indices;
        text.remove_prefix(comma + 1);
    }
}

// --verify's value: state, crc and writeback, separated by commas.
bool parse_checks(std::string_view text, RelayOptions &options) {
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view check = text.substr(0, comma);
        if (check == "state")
            options.verify = true;
        else if (check == "crc")
            options.verify_crc = true;
        else if (check == "writeback")
            options.verify_writeback = true;
        else
            return false;
        if (comma == std::string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

// "all", or format names separated by commas, none empty.
std::optional<std::vector<std::string>> parse_format_list(std::string_view text) {
    std::vector<std::string> names;
    if (text == "all")
        return names;
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view name = text.substr(0, comma);
        if (name.empty())
            return std::nullopt;
        names.emplace_back(name);
        if (comma == std::string_view::npos)
            return names;
        text.remove_prefix(comma + 1);
    }
}

std::optional<PlaneRequest> parse_plane(std::string_view text) {
    using Kind = PlaneRequest::Kind;
    if (text == "primary")
        return PlaneRequest{Kind::primary, 0};
    if (text == "cursor")
        return PlaneRequest{Kind::cursor, 0};
    if (text == "overlay")
        return PlaneRequest{Kind::overlay, 0};
    if (text.starts_with("overlay:")) {
        if (auto k = parse_decimal<uint32_t>(text.substr(8), 255))
            return PlaneRequest{Kind::overlay, *k};
        return std::nullopt;
    }
    if (auto index = parse_decimal<uint32_t>(text, 255))
        return PlaneRequest{Kind::index, *index};
    return std::nullopt;
}

// "X,Y", each a decimal with an optional minus sign, within +-65535.
std::optional<std::pair<int32_t, int32_t>> parse_position(std::string_view text) {
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    auto coordinate = [](std::string_view part) -> std::optional<int32_t> {
        const bool negative = part.starts_with('-');
        auto value = parse_decimal<int32_t>(negative ? part.substr(1) : part, 0xffff);
        if (!value)
            return std::nullopt;
        return negative ? -*value : *value;
    };
    auto x = coordinate(text.substr(0, comma)), y = coordinate(text.substr(comma + 1));
    if (!x || !y)
        return std::nullopt;
    return std::pair{*x, *y};
}

