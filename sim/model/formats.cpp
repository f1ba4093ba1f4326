#include "formats.h"

#include <array>
#include <cstdio>

namespace drmsim {
namespace {

constexpr std::array<FormatInfo, 30> kFormats{{
    {fourcc('X', 'R', '2', '4'), 1, {4, 0, 0}, 1, 1, false, Decoder::xrgb8888},
    {fourcc('A', 'R', '2', '4'), 1, {4, 0, 0}, 1, 1, true, Decoder::xrgb8888},
    {fourcc('X', 'B', '2', '4'), 1, {4, 0, 0}, 1, 1, false, Decoder::xbgr8888},
    {fourcc('A', 'B', '2', '4'), 1, {4, 0, 0}, 1, 1, true, Decoder::xbgr8888},
    {fourcc('R', 'X', '2', '4'), 1, {4, 0, 0}, 1, 1, false, Decoder::rgbx8888},
    {fourcc('R', 'A', '2', '4'), 1, {4, 0, 0}, 1, 1, true, Decoder::rgbx8888},
    {fourcc('B', 'X', '2', '4'), 1, {4, 0, 0}, 1, 1, false, Decoder::bgrx8888},
    {fourcc('B', 'A', '2', '4'), 1, {4, 0, 0}, 1, 1, true, Decoder::bgrx8888},
    {fourcc('R', 'G', '2', '4'), 1, {3, 0, 0}, 1, 1, false, Decoder::rgb888},
    {fourcc('B', 'G', '2', '4'), 1, {3, 0, 0}, 1, 1, false, Decoder::bgr888},
    {fourcc('R', 'G', '1', '6'), 1, {2, 0, 0}, 1, 1, false, Decoder::rgb565},
    {fourcc('X', 'R', '1', '5'), 1, {2, 0, 0}, 1, 1, false, Decoder::xrgb1555},
    {fourcc('A', 'R', '1', '5'), 1, {2, 0, 0}, 1, 1, true, Decoder::xrgb1555},
    {fourcc('X', 'R', '3', '0'), 1, {4, 0, 0}, 1, 1, false, Decoder::xrgb2101010},
    {fourcc('A', 'R', '3', '0'), 1, {4, 0, 0}, 1, 1, true, Decoder::xrgb2101010},
    {fourcc('X', 'B', '3', '0'), 1, {4, 0, 0}, 1, 1, false, Decoder::none},
    {fourcc('X', 'R', '1', '2'), 1, {2, 0, 0}, 1, 1, false, Decoder::none},
    {fourcc('A', 'R', '1', '2'), 1, {2, 0, 0}, 1, 1, true, Decoder::none},
    {fourcc('X', 'R', '4', '8'), 1, {8, 0, 0}, 1, 1, false, Decoder::none},
    {fourcc('X', 'R', '4', 'H'), 1, {8, 0, 0}, 1, 1, false, Decoder::none},
    {fourcc('A', 'R', '4', 'H'), 1, {8, 0, 0}, 1, 1, true, Decoder::none},
    {fourcc('C', '8', ' ', ' '), 1, {1, 0, 0}, 1, 1, false, Decoder::none},
    {fourcc('R', '8', ' ', ' '), 1, {1, 0, 0}, 1, 1, false, Decoder::none},
    {fourcc('Y', 'U', 'Y', 'V'), 1, {2, 0, 0}, 2, 1, false, Decoder::none},
    {fourcc('U', 'Y', 'V', 'Y'), 1, {2, 0, 0}, 2, 1, false, Decoder::none},
    {fourcc('N', 'V', '1', '2'), 2, {1, 2, 0}, 2, 2, false, Decoder::none},
    {fourcc('N', 'V', '2', '1'), 2, {1, 2, 0}, 2, 2, false, Decoder::none},
    {fourcc('N', 'V', '1', '6'), 2, {1, 2, 0}, 2, 1, false, Decoder::none},
    {fourcc('Y', 'U', '1', '2'), 3, {1, 1, 1}, 2, 2, false, Decoder::none},
    {fourcc('Y', 'V', '1', '2'), 3, {1, 1, 1}, 2, 2, false, Decoder::none},
}};

uint32_t word16(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t word32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return a << 24 | r << 16 | g << 8 | b;
}
// Widens a 5- or 6-bit channel to 8 bits by repeating its top bits, so
// that full scale stays full scale.
uint32_t widen(uint32_t v, unsigned bits) {
    return (v << (8 - bits)) | (v >> (2 * bits - 8));
}

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

std::string fourcc_name(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = char((code >> (8 * i)) & 0xff);
        if (c < 0x20 || c > 0x7e) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08x", code);
            return buf;
        }
        s += c;
    }
    return s;
}

std::optional<uint32_t> parse_fourcc(std::string_view text) {
    if (text.size() != 4)
        return std::nullopt;
    return fourcc(text[0], text[1], text[2], text[3]);
}

uint32_t decode_pixel(const FormatInfo &info, const uint8_t *p) {
    const uint32_t opaque = info.has_alpha ? 0 : 255;
    auto alpha = [&](uint32_t a) { return info.has_alpha ? a : opaque; };
    switch (info.decoder) {
    case Decoder::xrgb8888:
        return rgb(p[2], p[1], p[0], alpha(p[3]));
    case Decoder::xbgr8888:
        return rgb(p[0], p[1], p[2], alpha(p[3]));
    case Decoder::rgbx8888:
        return rgb(p[3], p[2], p[1], alpha(p[0]));
    case Decoder::bgrx8888:
        return rgb(p[1], p[2], p[3], alpha(p[0]));
    case Decoder::rgb888:
        return rgb(p[2], p[1], p[0], 255);
    case Decoder::bgr888:
        return rgb(p[0], p[1], p[2], 255);
    case Decoder::rgb565: {
        uint32_t w = word16(p);
        return rgb(widen(w >> 11, 5), widen((w >> 5) & 0x3f, 6), widen(w & 0x1f, 5), 255);
    }
    case Decoder::xrgb1555: {
        uint32_t w = word16(p);
        return rgb(widen((w >> 10) & 0x1f, 5), widen((w >> 5) & 0x1f, 5), widen(w & 0x1f, 5),
                   alpha((w >> 15) ? 255 : 0));
    }
    case Decoder::xrgb2101010: {
        uint32_t w = word32(p);
        return rgb((w >> 22) & 0xff, (w >> 12) & 0xff, (w >> 2) & 0xff, alpha((w >> 30) * 85));
    }
    case Decoder::none:
        break;
    }
    return rgb(0x80, 0x80, 0x80, 255);
}

} // namespace drmsim
