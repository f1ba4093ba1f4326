// SPDX-License-Identifier: MIT
// The JSON device description read and checked, with a reason for each refusal.
#include "description.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include <nlohmann/json.hpp>

#include "formats.h"

namespace drmsim {
namespace {

using nlohmann::json;

// The kernel's connector type names, indexed by type.
constexpr std::array<const char *, 21> kConnectorNames{
    "Unknown", "VGA",       "DVI-I", "DVI-D", "DVI-A",     "Composite", "SVIDEO",
    "LVDS",    "Component", "DIN",   "DP",    "HDMI-A",    "HDMI-B",    "TV",
    "eDP",     "Virtual",   "DSI",   "DPI",   "Writeback", "SPI",       "USB"};

[[noreturn]] void fail(const std::string &where, const std::string &what) {
    throw DescriptionError(where + ": " + what);
}

void check_keys(const json &obj, const std::string &where,
                std::initializer_list<std::string_view> allowed) {
    for (const auto &item : obj.items()) {
        bool ok = item.key() == "comment";
        for (auto a : allowed)
            ok = ok || item.key() == a;
        if (!ok)
            fail(where, "unknown key \"" + item.key() + "\"");
    }
}

uint64_t get_uint(const json &v, const std::string &where, uint64_t max) {
    if (!v.is_number_integer() ||
        (v.is_number_integer() && v.get<int64_t>() < 0 && !v.is_number_unsigned()))
        fail(where, "expected a non-negative integer");
    uint64_t n = v.get<uint64_t>();
    if (n > max)
        fail(where, "value " + std::to_string(n) + " is too large");
    return n;
}

uint32_t all_crtcs(unsigned crtcs) {
    return crtcs >= 32 ? 0xffffffffu : (1u << crtcs) - 1;
}

// "1920x1080@60" or "1920x1080".
drm_mode_modeinfo parse_mode_string(const std::string &s, const std::string &where) {
    unsigned w = 0, h = 0, r = 60;
    const char *p = s.data(), *end = s.data() + s.size();
    auto num = [&](unsigned &out) {
        auto [next, ec] = std::from_chars(p, end, out);
        if (ec != std::errc() || next == p)
            fail(where, "mode \"" + s + "\" is not WIDTHxHEIGHT[@HZ]");
        p = next;
    };
    num(w);
    if (p == end || *p != 'x')
        fail(where, "mode \"" + s + "\" is not WIDTHxHEIGHT[@HZ]");
    ++p;
    num(h);
    if (p != end) {
        if (*p != '@')
            fail(where, "mode \"" + s + "\" is not WIDTHxHEIGHT[@HZ]");
        ++p;
        num(r);
    }
    if (p != end || w > 0xffff || h > 0xffff || r == 0 || r > 1000)
        fail(where, "mode \"" + s + "\" is out of range");
    return make_mode(w, h, r);
}

drm_mode_modeinfo parse_mode_object(const json &o, const std::string &where) {
    check_keys(o, where,
               {"name", "clock", "hdisplay", "hsync_start", "hsync_end", "htotal", "hskew",
                "vdisplay", "vsync_start", "vsync_end", "vtotal", "vscan", "vrefresh", "flags",
                "type"});
    auto field = [&](const char *key, uint64_t max) -> std::optional<uint64_t> {
        if (!o.contains(key))
            return std::nullopt;
        return get_uint(o.at(key), where + "." + key, max);
    };
    uint32_t w = uint32_t(field("hdisplay", 0xffff).value_or(0));
    uint32_t h = uint32_t(field("vdisplay", 0xffff).value_or(0));
    uint32_t r = uint32_t(field("vrefresh", 1000).value_or(60));
    // Start from generated timings so that a mode needs only its size.
    drm_mode_modeinfo m = make_mode(w, h, r == 0 ? 60 : r);
    m.vrefresh = r;
    auto set16 = [&](const char *key, uint16_t &dst) {
        if (auto v = field(key, 0xffff))
            dst = uint16_t(*v);
    };
    if (auto v = field("clock", 0xffffffffu))
        m.clock = uint32_t(*v);
    set16("hsync_start", m.hsync_start);
    set16("hsync_end", m.hsync_end);
    set16("htotal", m.htotal);
    set16("hskew", m.hskew);
    set16("vsync_start", m.vsync_start);
    set16("vsync_end", m.vsync_end);
    set16("vtotal", m.vtotal);
    set16("vscan", m.vscan);
    if (auto v = field("flags", 0xffffffffu))
        m.flags = uint32_t(*v);
    if (auto v = field("type", 0xffffffffu))
        m.type = uint32_t(*v);
    if (o.contains("name")) {
        if (!o.at("name").is_string())
            fail(where + ".name", "expected a string");
        set_mode_name(m, o.at("name").get<std::string>());
    }
    return m;
}

uint32_t parse_connector_type(const json &v, const std::string &where) {
    if (v.is_number_integer())
        return uint32_t(get_uint(v, where, 0xffffffffu));
    if (!v.is_string())
        fail(where, "expected a connector type name or number");
    std::string name = v.get<std::string>();
    if (name == "DisplayPort")
        return DRM_MODE_CONNECTOR_DisplayPort;
    if (name == "9PinDIN")
        return DRM_MODE_CONNECTOR_9PinDIN;
    for (size_t i = 0; i < kConnectorNames.size(); ++i)
        if (name == kConnectorNames[i])
            return uint32_t(i);
    fail(where, "unknown connector type \"" + name + "\"");
}

ConnectorDescription parse_connector(const json &c, const std::string &where, unsigned crtcs) {
    if (!c.is_object())
        fail(where, "expected an object");
    check_keys(
        c, where,
        {"type", "connected", "modes", "possible_crtcs", "encoders", "mm_width", "mm_height",
         "writeback_formats"});
    ConnectorDescription d;
    d.possible_crtcs = all_crtcs(crtcs);
    if (c.contains("type"))
        d.type = parse_connector_type(c.at("type"), where + ".type");
    if (c.contains("connected")) {
        const json &v = c.at("connected");
        if (v.is_boolean())
            d.connection = v.get<bool>() ? 1 : 2;
        else if (v == "unknown")
            d.connection = 3;
        else
            fail(where + ".connected", "expected true, false or \"unknown\"");
    }
    if (c.contains("modes")) {
        const json &modes = c.at("modes");
        if (!modes.is_array())
            fail(where + ".modes", "expected an array");
        for (size_t i = 0; i < modes.size(); ++i) {
            std::string w = where + ".modes[" + std::to_string(i) + "]";
            if (modes[i].is_string())
                d.modes.push_back(parse_mode_string(modes[i].get<std::string>(), w));
            else if (modes[i].is_object())
                d.modes.push_back(parse_mode_object(modes[i], w));
            else
                fail(w, "expected \"WxH@HZ\" or a timing object");
        }
        if (!d.modes.empty())
            d.modes.front().type |= DRM_MODE_TYPE_PREFERRED;
    }
    if (c.contains("possible_crtcs"))
        d.possible_crtcs =
            uint32_t(get_uint(c.at("possible_crtcs"), where + ".possible_crtcs", 0xffffffffu));
    if (c.contains("encoders")) {
        const json &encoders = c.at("encoders");
        if (!encoders.is_array() || encoders.empty())
            fail(where + ".encoders", "expected a non-empty array");
        for (size_t i = 0; i < encoders.size(); ++i) {
            std::string w = where + ".encoders[" + std::to_string(i) + "]";
            if (!encoders[i].is_object())
                fail(w, "expected an object");
            check_keys(encoders[i], w, {"possible_crtcs"});
            EncoderDescription e{d.possible_crtcs};
            if (encoders[i].contains("possible_crtcs"))
                e.possible_crtcs = uint32_t(
                    get_uint(encoders[i].at("possible_crtcs"), w + ".possible_crtcs", 0xffffffffu));
            d.encoders.push_back(e);
        }
    } else {
        d.encoders.push_back({d.possible_crtcs});
    }
    if (c.contains("mm_width"))
        d.mm_width = uint32_t(get_uint(c.at("mm_width"), where + ".mm_width", 0xffffffffu));
    if (c.contains("mm_height"))
        d.mm_height = uint32_t(get_uint(c.at("mm_height"), where + ".mm_height", 0xffffffffu));
    const bool writeback = d.type == DRM_MODE_CONNECTOR_WRITEBACK;
    if (c.contains("writeback_formats")) {
        const json &f = c.at("writeback_formats");
        if (!writeback)
            fail(where + ".writeback_formats", "only a Writeback connector has them");
        if (!f.is_array() || f.empty())
            fail(where + ".writeback_formats", "expected a non-empty array");
        for (size_t i = 0; i < f.size(); ++i) {
            const std::string w = where + ".writeback_formats[" + std::to_string(i) + "]";
            std::optional<uint32_t> code;
            if (f[i].is_string())
                code = parse_fourcc(f[i].get<std::string>());
            if (!code || !can_capture(*code))
                fail(w, "expected one of \"XR24\", \"AR24\", \"XB24\", \"AB24\"");
            d.writeback_formats.push_back(*code);
        }
    } else if (writeback) {
        d.writeback_formats = {fourcc('X', 'R', '2', '4')};
    }
    return d;
}

std::vector<uint32_t> default_formats(PlaneType type) {
    if (type == PlaneType::cursor)
        return {fourcc('A', 'R', '2', '4')};
    return {fourcc('X', 'R', '2', '4'), fourcc('A', 'R', '2', '4'), fourcc('X', 'B', '2', '4'),
            fourcc('A', 'B', '2', '4'), fourcc('R', 'X', '2', '4'), fourcc('R', 'A', '2', '4'),
            fourcc('R', 'G', '1', '6')};
}

PlaneDescription parse_plane(const json &p, const std::string &where, unsigned crtcs) {
    if (!p.is_object())
        fail(where, "expected an object");
    check_keys(p, where, {"type", "possible_crtcs", "crtc", "formats", "type_properties"});
    PlaneDescription d;
    d.possible_crtcs = all_crtcs(crtcs);
    if (p.contains("type")) {
        const json &t = p.at("type");
        if (t == "primary")
            d.type = PlaneType::primary;
        else if (t == "overlay")
            d.type = PlaneType::overlay;
        else if (t == "cursor")
            d.type = PlaneType::cursor;
        else
            fail(where + ".type", "expected \"primary\", \"overlay\" or \"cursor\"");
    }
    if (p.contains("possible_crtcs"))
        d.possible_crtcs =
            uint32_t(get_uint(p.at("possible_crtcs"), where + ".possible_crtcs", 0xffffffffu));
    if (p.contains("crtc") && !p.at("crtc").is_null()) {
        d.crtc = unsigned(get_uint(p.at("crtc"), where + ".crtc", 31));
        if (*d.crtc >= crtcs)
            fail(where + ".crtc", "no CRTC with index " + std::to_string(*d.crtc));
    }
    if (p.contains("formats")) {
        const json &f = p.at("formats");
        if (!f.is_array())
            fail(where + ".formats", "expected an array");
        for (size_t i = 0; i < f.size(); ++i) {
            std::string w = where + ".formats[" + std::to_string(i) + "]";
            if (f[i].is_number_integer()) {
                d.formats.push_back(uint32_t(get_uint(f[i], w, 0xffffffffu)));
                continue;
            }
            // One test per failure: GCC 12 at -Os takes the payload of an
            // optional chosen by ?: for maybe uninitialised.
            if (!f[i].is_string())
                fail(w, "expected a four-character code such as \"XR24\"");
            const std::optional<uint32_t> code = parse_fourcc(f[i].get<std::string>());
            if (!code)
                fail(w, "expected a four-character code such as \"XR24\"");
            d.formats.push_back(*code);
        }
    } else {
        d.formats = default_formats(d.type);
    }
    if (p.contains("type_properties")) {
        const json &t = p.at("type_properties");
        if (!t.is_array())
            fail(where + ".type_properties", "expected an array");
        for (size_t i = 0; i < t.size(); ++i)
            d.type_properties.push_back(
                get_uint(t[i], where + ".type_properties[" + std::to_string(i) + "]", UINT64_MAX));
    } else {
        d.type_properties = {uint64_t(d.type)};
    }
    return d;
}

// Whether the first thing in the text, after blanks and comments (which
// descriptions may have), is a '{': the text means to be a JSON object.
bool opens_an_object(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) // UTF-8 byte order mark
        text.remove_prefix(3);
    for (;;) {
        const size_t start = text.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos)
            return false;
        text.remove_prefix(start);
        size_t skip = 0;
        if (text.starts_with("//")) {
            const size_t newline = text.find('\n');
            skip = newline == std::string_view::npos ? text.size() : newline + 1;
        } else if (text.starts_with("/*")) {
            const size_t close = text.find("*/", 2);
            if (close == std::string_view::npos)
                return false;
            skip = close + 2;
        } else {
            return text.front() == '{';
        }
        text.remove_prefix(skip);
    }
}

// "line L: not valid JSON: <the parser's reason>", L counted from 1 at the
// character the parser stopped at.
std::string syntax_error(std::string_view text, const json::parse_error &e) {
    const size_t stop = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    const size_t line = 1 + size_t(std::count(text.begin(), text.begin() + stop, '\n'));
    // The parser's message: "[json.exception.parse_error.101] parse error at
    // line 2, column 1: syntax error while parsing ..."; keep what follows
    // the position.
    std::string reason = e.what();
    const size_t column = reason.find("column ");
    const size_t colon = column == std::string::npos ? column : reason.find(": ", column);
    reason = colon == std::string::npos ? std::string() : ": " + reason.substr(colon + 2);
    return "line " + std::to_string(line) + ": not valid JSON" + reason;
}

// "1e309" out of the parser's "[json.exception.out_of_range.406] number
// overflow parsing '1e309'".
std::string number_in(std::string_view message) {
    const size_t open = message.find('\'');
    const size_t close = open == message.npos ? open : message.find('\'', open + 1);
    return close == message.npos ? std::string(message)
                                 : std::string(message.substr(open + 1, close - open - 1));
}

} // namespace

std::string connector_type_name(uint32_t type) {
    if (type < kConnectorNames.size())
        return kConnectorNames[type];
    return "Unknown" + std::to_string(type);
}

bool looks_like_description(std::string_view text) {
    json j = json::parse(text, nullptr, false, true);
    if (j.is_discarded())
        return opens_an_object(text);
    return j.is_object() && (j.contains("crtcs") || j.contains("connectors"));
}

Description parse_description(std::string_view text) {
    json j;
    try {
        j = json::parse(text, nullptr, true, true);
    } catch (const json::parse_error &e) {
        throw DescriptionError(syntax_error(text, e));
    } catch (const json::out_of_range &e) {
        // A number beyond a double (1e309): the parser's only other refusal.
        throw DescriptionError("number too large for a description: " + number_in(e.what()));
    }
    if (!j.is_object())
        throw DescriptionError("a device description is a JSON object");
    check_keys(j, "device",
               {"crtcs", "connectors", "planes", "dumb_pitch_align", "universal_planes_cap",
                "atomic", "max_width", "max_height", "gamma_size", "cursor_width",
                "cursor_height"});
    Description d;
    if (j.contains("crtcs"))
        d.crtcs = unsigned(get_uint(j.at("crtcs"), "crtcs", 32));
    if (j.contains("connectors")) {
        const json &c = j.at("connectors");
        if (!c.is_array())
            fail("connectors", "expected an array");
        for (size_t i = 0; i < c.size(); ++i)
            d.connectors.push_back(
                parse_connector(c[i], "connectors[" + std::to_string(i) + "]", d.crtcs));
    }
    if (j.contains("planes")) {
        const json &p = j.at("planes");
        if (!p.is_array())
            fail("planes", "expected an array");
        for (size_t i = 0; i < p.size(); ++i)
            d.planes.push_back(parse_plane(p[i], "planes[" + std::to_string(i) + "]", d.crtcs));
    } else {
        // Every KMS CRTC has a primary plane; give each its own.
        for (unsigned i = 0; i < d.crtcs; ++i) {
            PlaneDescription p;
            p.type = PlaneType::primary;
            p.possible_crtcs = 1u << i;
            p.formats = default_formats(p.type);
            p.type_properties = {uint64_t(p.type)};
            d.planes.push_back(p);
        }
    }
    if (j.contains("dumb_pitch_align")) {
        d.dumb_pitch_align =
            uint32_t(get_uint(j.at("dumb_pitch_align"), "dumb_pitch_align", 1u << 20));
        if (d.dumb_pitch_align == 0)
            fail("dumb_pitch_align", "must be at least 1");
    }
    if (j.contains("universal_planes_cap")) {
        if (!j.at("universal_planes_cap").is_boolean())
            fail("universal_planes_cap", "expected true or false");
        d.universal_planes_cap = j.at("universal_planes_cap").get<bool>();
    }
    if (j.contains("atomic")) {
        if (!j.at("atomic").is_boolean())
            fail("atomic", "expected true or false");
        d.atomic = j.at("atomic").get<bool>();
    }
    if (j.contains("max_width"))
        d.max_width = uint32_t(get_uint(j.at("max_width"), "max_width", 0xffff));
    if (j.contains("max_height"))
        d.max_height = uint32_t(get_uint(j.at("max_height"), "max_height", 0xffff));
    if (j.contains("gamma_size"))
        d.gamma_size = uint32_t(get_uint(j.at("gamma_size"), "gamma_size", 4096));
    for (auto [key, field] : {std::pair{"cursor_width", &d.cursor_width},
                              std::pair{"cursor_height", &d.cursor_height}}) {
        if (!j.contains(key))
            continue;
        *field = uint32_t(get_uint(j.at(key), key, 4096));
        if (*field == 0)
            fail(key, "must be at least 1");
    }
    return d;
}

} // namespace drmsim
