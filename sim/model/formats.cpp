// SPDX-License-Identifier: MIT
// The pixel formats the device knows, and fourccs read from text.
#include "formats.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace drmsim {
namespace {

// A format as drm_fourcc.h comments it: the components of the pixel word
// from its most significant bits down ("A:R:G:B") and their widths
// ("8:8:8:8"); "x" is padding. Packed YUV names Y0 Y1 Cb0 Cr0, semi-planar
// chroma words Cb and Cr.
struct Notation {
    std::string_view names;
    std::string_view widths;
};

constexpr std::string_view field(std::string_view text, int index) {
    for (; index > 0; --index)
        text = text.substr(text.find(':') + 1);
    return text.substr(0, text.find(':'));
}

constexpr int count_fields(std::string_view text) {
    int n = 1;
    for (char c : text)
        n += c == ':';
    return n;
}

constexpr uint8_t number(std::string_view text) {
    uint8_t n = 0;
    for (char c : text)
        n = uint8_t(n * 10 + (c - '0'));
    return n;
}

// Slots: R G B A for RGB, Y0 Y1 Cb Cr for YUV words.
constexpr int slot_of(std::string_view name) {
    constexpr std::string_view slots[][2] = {{"R", "Y0"}, {"G", "Y1"}, {"B", "Cb"}, {"A", "Cr"}};
    for (int i = 0; i < 4; ++i)
        for (std::string_view s : slots[i])
            if (name == s || (name.size() == 3 && name.substr(0, 2) == s))
                return i;
    return -1;
}

constexpr std::array<Component, 4> components(Notation n) {
    std::array<Component, 4> out{};
    int total = 0;
    for (int i = 0; i < count_fields(n.widths); ++i)
        total += number(field(n.widths, i));
    for (int i = 0; i < count_fields(n.names); ++i) {
        const uint8_t bits = number(field(n.widths, i));
        total -= bits;
        if (const int slot = slot_of(field(n.names, i)); slot >= 0)
            out[size_t(slot)] = {uint8_t(total), bits};
    }
    return out;
}

constexpr FormatInfo rgb(uint32_t code, uint8_t cpp, Notation n,
                         Encoding encoding = Encoding::unorm) {
    const auto c = components(n);
    return {code, 1, {cpp, 0, 0}, 1, 1, c[3].bits != 0, encoding, c};
}

constexpr FormatInfo packed_yuv(uint32_t code, Notation n) {
    return {code, 1, {2, 0, 0}, 2, 1, false, Encoding::yuv_packed, components(n)};
}

constexpr FormatInfo semi_planar(uint32_t code, uint8_t vsub, Notation chroma) {
    return {code, 2, {1, 2, 0}, 2, vsub, false, Encoding::yuv_semi, components(chroma)};
}

// Cb in plane cb_plane, Cr in the other chroma plane.
constexpr FormatInfo planar(uint32_t code, uint8_t cb_plane) {
    std::array<Component, 4> c{};
    c[2].shift = cb_plane;
    c[3].shift = uint8_t(3 - cb_plane);
    return {code, 3, {1, 1, 1}, 2, 2, false, Encoding::yuv_planar, c};
}

constexpr FormatInfo kFormats[] = {
    {fourcc('C', '8', ' ', ' '), 1, {1, 0, 0}, 1, 1, false, Encoding::indexed, {}},
    {fourcc('R', '8', ' ', ' '), 1, {1, 0, 0}, 1, 1, false, Encoding::unorm,
     components({"R", "8"})},
    packed_yuv(fourcc('Y', 'U', 'Y', 'V'), {"Cr0:Y1:Cb0:Y0", "8:8:8:8"}),
    packed_yuv(fourcc('Y', 'V', 'Y', 'U'), {"Cb0:Y1:Cr0:Y0", "8:8:8:8"}),
    packed_yuv(fourcc('U', 'Y', 'V', 'Y'), {"Y1:Cr0:Y0:Cb0", "8:8:8:8"}),
    packed_yuv(fourcc('V', 'Y', 'U', 'Y'), {"Y1:Cb0:Y0:Cr0", "8:8:8:8"}),
    semi_planar(fourcc('N', 'V', '1', '2'), 2, {"Cr:Cb", "8:8"}),
    semi_planar(fourcc('N', 'V', '2', '1'), 2, {"Cb:Cr", "8:8"}),
    semi_planar(fourcc('N', 'V', '1', '6'), 1, {"Cr:Cb", "8:8"}),
    semi_planar(fourcc('N', 'V', '6', '1'), 1, {"Cb:Cr", "8:8"}),
    planar(fourcc('Y', 'U', '1', '2'), 1),
    planar(fourcc('Y', 'V', '1', '2'), 2),
    rgb(fourcc('X', 'R', '1', '2'), 2, {"x:R:G:B", "4:4:4:4"}),
    rgb(fourcc('X', 'B', '1', '2'), 2, {"x:B:G:R", "4:4:4:4"}),
    rgb(fourcc('R', 'X', '1', '2'), 2, {"R:G:B:x", "4:4:4:4"}),
    rgb(fourcc('B', 'X', '1', '2'), 2, {"B:G:R:x", "4:4:4:4"}),
    rgb(fourcc('A', 'R', '1', '2'), 2, {"A:R:G:B", "4:4:4:4"}),
    rgb(fourcc('A', 'B', '1', '2'), 2, {"A:B:G:R", "4:4:4:4"}),
    rgb(fourcc('R', 'A', '1', '2'), 2, {"R:G:B:A", "4:4:4:4"}),
    rgb(fourcc('B', 'A', '1', '2'), 2, {"B:G:R:A", "4:4:4:4"}),
    rgb(fourcc('X', 'R', '1', '5'), 2, {"x:R:G:B", "1:5:5:5"}),
    rgb(fourcc('X', 'B', '1', '5'), 2, {"x:B:G:R", "1:5:5:5"}),
    rgb(fourcc('R', 'X', '1', '5'), 2, {"R:G:B:x", "5:5:5:1"}),
    rgb(fourcc('B', 'X', '1', '5'), 2, {"B:G:R:x", "5:5:5:1"}),
    rgb(fourcc('A', 'R', '1', '5'), 2, {"A:R:G:B", "1:5:5:5"}),
    rgb(fourcc('A', 'B', '1', '5'), 2, {"A:B:G:R", "1:5:5:5"}),
    rgb(fourcc('R', 'A', '1', '5'), 2, {"R:G:B:A", "5:5:5:1"}),
    rgb(fourcc('B', 'A', '1', '5'), 2, {"B:G:R:A", "5:5:5:1"}),
    rgb(fourcc('R', 'G', '1', '6'), 2, {"R:G:B", "5:6:5"}),
    rgb(fourcc('B', 'G', '1', '6'), 2, {"B:G:R", "5:6:5"}),
    rgb(fourcc('R', 'G', '2', '4'), 3, {"R:G:B", "8:8:8"}),
    rgb(fourcc('B', 'G', '2', '4'), 3, {"B:G:R", "8:8:8"}),
    rgb(fourcc('X', 'R', '2', '4'), 4, {"x:R:G:B", "8:8:8:8"}),
    rgb(fourcc('X', 'B', '2', '4'), 4, {"x:B:G:R", "8:8:8:8"}),
    rgb(fourcc('R', 'X', '2', '4'), 4, {"R:G:B:x", "8:8:8:8"}),
    rgb(fourcc('B', 'X', '2', '4'), 4, {"B:G:R:x", "8:8:8:8"}),
    rgb(fourcc('A', 'R', '2', '4'), 4, {"A:R:G:B", "8:8:8:8"}),
    rgb(fourcc('A', 'B', '2', '4'), 4, {"A:B:G:R", "8:8:8:8"}),
    rgb(fourcc('R', 'A', '2', '4'), 4, {"R:G:B:A", "8:8:8:8"}),
    rgb(fourcc('B', 'A', '2', '4'), 4, {"B:G:R:A", "8:8:8:8"}),
    rgb(fourcc('X', 'R', '3', '0'), 4, {"x:R:G:B", "2:10:10:10"}),
    rgb(fourcc('X', 'B', '3', '0'), 4, {"x:B:G:R", "2:10:10:10"}),
    rgb(fourcc('R', 'X', '3', '0'), 4, {"R:G:B:x", "10:10:10:2"}),
    rgb(fourcc('B', 'X', '3', '0'), 4, {"B:G:R:x", "10:10:10:2"}),
    rgb(fourcc('A', 'R', '3', '0'), 4, {"A:R:G:B", "2:10:10:10"}),
    rgb(fourcc('A', 'B', '3', '0'), 4, {"A:B:G:R", "2:10:10:10"}),
    rgb(fourcc('R', 'A', '3', '0'), 4, {"R:G:B:A", "10:10:10:2"}),
    rgb(fourcc('B', 'A', '3', '0'), 4, {"B:G:R:A", "10:10:10:2"}),
    rgb(fourcc('X', 'R', '4', '8'), 8, {"x:R:G:B", "16:16:16:16"}),
    rgb(fourcc('X', 'R', '4', 'H'), 8, {"x:R:G:B", "16:16:16:16"}, Encoding::half_float),
    rgb(fourcc('X', 'B', '4', 'H'), 8, {"x:B:G:R", "16:16:16:16"}, Encoding::half_float),
    rgb(fourcc('A', 'R', '4', 'H'), 8, {"A:R:G:B", "16:16:16:16"}, Encoding::half_float),
    rgb(fourcc('A', 'B', '4', 'H'), 8, {"A:B:G:R", "16:16:16:16"}, Encoding::half_float),
};

// Spot checks of the notation against the kernel's bit positions.
static_assert(components({"A:R:G:B", "2:10:10:10"})[3].shift == 30);
static_assert(components({"R:G:B:A", "5:5:5:1"})[0].shift == 11);
static_assert(components({"Cr0:Y1:Cb0:Y0", "8:8:8:8"})[2].shift == 8);

uint64_t read_le(const uint8_t *p, unsigned n) {
    uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i)
        v |= uint64_t(p[i]) << (8 * i);
    return v;
}

uint32_t bits_of(uint64_t word, Component c) {
    return uint32_t((word >> c.shift) & ((uint64_t(1) << c.bits) - 1));
}

// An n-bit level on an 8-bit output: wider levels keep their top 8 bits,
// narrower ones repeat their bits so that full scale stays full scale.
uint32_t to_8bit(uint32_t v, unsigned bits) {
    if (bits >= 8)
        return v >> (bits - 8);
    uint32_t out = 0;
    for (unsigned filled = 0; filled < 8; filled += bits)
        out = out << bits | v;
    unsigned total = (8 + bits - 1) / bits * bits;
    return (out >> (total - 8)) & 0xff;
}

// A binary16 level in [0, 1] as the 8-bit level c with c / 256 nearest.
uint32_t half_to_8bit(uint32_t h) {
    if (h & 0x8000)
        return 0;
    const int exponent = int(h >> 10 & 0x1f);
    const double mantissa = h & 0x3ff;
    const double v = exponent == 0 ? std::ldexp(mantissa, -24)
                                   : std::ldexp(1024 + mantissa, exponent - 25);
    return uint32_t(std::min(255.0, std::round(v * 256)));
}

uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}

// Limited-range BT.601 (ITU-R BT.601 coefficients, 219 luma and 224 chroma
// steps) to full-range RGB.
uint32_t yuv_to_rgb(uint32_t y, uint32_t cb, uint32_t cr) {
    const double l = (double(y) - 16) * 255 / 219;
    const double u = (double(cb) - 128) * 255 / 224, v = (double(cr) - 128) * 255 / 224;
    constexpr double kr = 0.299, kb = 0.114, kg = 1 - kr - kb;
    auto level = [](double c) { return uint32_t(std::clamp(std::lround(c), 0L, 255L)); };
    const double r = l + 2 * (1 - kr) * v;
    const double b = l + 2 * (1 - kb) * u;
    const double g = (l - kr * r - kb * b) / kg;
    return argb(255, level(r), level(g), level(b));
}

constexpr uint32_t kOutside = 0xff808080;

} // namespace

const FormatInfo *find_format(uint32_t code) {
    for (const auto &f : kFormats)
        if (f.fourcc == code)
            return &f;
    return nullptr;
}

std::span<const FormatInfo> known_formats() {
    return kFormats;
}

std::optional<uint32_t> parse_fourcc(std::string_view text) {
    if (text.size() != 4)
        return std::nullopt;
    return fourcc(text[0], text[1], text[2], text[3]);
}

uint32_t decode_pixel(const FormatInfo &info, const PlaneBytes &planes, uint32_t x, uint32_t y,
                      const ColorTable &palette) {
    // The bytes of plane p for the sample at column cx, row cy of that plane.
    auto at = [&](unsigned p, uint64_t cx, uint64_t cy, unsigned n) -> const uint8_t * {
        const uint64_t offset = cy * planes.pitches[p] + cx * n;
        if (offset + n > planes.bytes[p].size())
            return nullptr;
        return planes.bytes[p].data() + offset;
    };
    const auto &c = info.components;
    switch (info.encoding) {
    case Encoding::unorm:
    case Encoding::half_float: {
        const uint8_t *p = at(0, x, y, info.cpp[0]);
        if (!p)
            return kOutside;
        const uint64_t word = read_le(p, info.cpp[0]);
        auto level = [&](Component k) -> uint32_t {
            if (!k.bits)
                return 0;
            return info.encoding == Encoding::half_float ? half_to_8bit(bits_of(word, k))
                                                         : to_8bit(bits_of(word, k), k.bits);
        };
        return argb(info.has_alpha ? level(c[3]) : 255, level(c[0]), level(c[1]), level(c[2]));
    }
    case Encoding::indexed: {
        const uint8_t *p = at(0, x, y, 1);
        if (!p)
            return kOutside;
        // Without a table the index shows as a grey level.
        if (*p >= palette.red.size())
            return argb(255, *p, *p, *p);
        return argb(255, palette.red[*p] >> 8, palette.green[*p] >> 8, palette.blue[*p] >> 8);
    }
    case Encoding::yuv_packed: {
        const uint8_t *p = at(0, x / 2, y, 4);
        if (!p)
            return kOutside;
        const uint64_t word = read_le(p, 4);
        return yuv_to_rgb(bits_of(word, x % 2 ? c[1] : c[0]), bits_of(word, c[2]),
                          bits_of(word, c[3]));
    }
    case Encoding::yuv_semi: {
        const uint8_t *l = at(0, x, y, 1), *ch = at(1, x / info.hsub, y / info.vsub, 2);
        if (!l || !ch)
            return kOutside;
        const uint64_t word = read_le(ch, 2);
        return yuv_to_rgb(*l, bits_of(word, c[2]), bits_of(word, c[3]));
    }
    case Encoding::yuv_planar: {
        const uint8_t *l = at(0, x, y, 1);
        const uint8_t *cb = at(c[2].shift, x / info.hsub, y / info.vsub, 1);
        const uint8_t *cr = at(c[3].shift, x / info.hsub, y / info.vsub, 1);
        if (!l || !cb || !cr)
            return kOutside;
        return yuv_to_rgb(*l, *cb, *cr);
    }
    }
    return kOutside;
}

bool can_capture(uint32_t code) {
    return code == fourcc('X', 'R', '2', '4') || code == fourcc('A', 'R', '2', '4') ||
           code == fourcc('X', 'B', '2', '4') || code == fourcc('A', 'B', '2', '4');
}

void encode_capture_pixel(uint32_t code, uint32_t rgb, uint8_t *p) {
    const uint8_t r = uint8_t(rgb >> 16), g = uint8_t(rgb >> 8), b = uint8_t(rgb);
    const bool rgb_order = code == fourcc('X', 'R', '2', '4') || code == fourcc('A', 'R', '2', '4');
    p[0] = rgb_order ? b : r;
    p[1] = g;
    p[2] = rgb_order ? r : b;
    p[3] = 0xff;
}

} // namespace drmsim
