// SPDX-License-Identifier: MIT
#include "pixel_formats.h"

#include <cstring>

#include "format_layout.h"

namespace pattern {

const PixelFormatInfo *find_pixel_format(uint32_t fourcc) {
    for (const PixelFormatInfo &row : pixel_format_table)
        if (row.fourcc == fourcc)
            return &row;
    return nullptr;
}

uint32_t pixel_format_from_name(const char *name) {
    for (const PixelFormatInfo &row : pixel_format_table)
        if (std::strcmp(row.name, name) == 0)
            return row.fourcc;
    return 0;
}

PixelFamily pixel_family(const PixelFormatInfo &format) {
    return format_layout(format).family;
}

namespace {

uint64_t pack_component(const ColorComponent &c, uint16_t v) {
    // A 64-bit shift by 16 clears any 16-bit value, so absent channels vanish.
    return (static_cast<uint64_t>(v) >> (16 - c.length)) << c.offset;
}

} // namespace

uint64_t pack_rgba16(const RgbLayout &layout, uint16_t r, uint16_t g, uint16_t b, uint16_t a) {
    return pack_component(layout.red, r) | pack_component(layout.green, g) |
           pack_component(layout.blue, b) | pack_component(layout.alpha, a);
}

uint32_t pack_rgba(const RgbLayout &layout, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    auto widen = [](uint8_t c) { return static_cast<uint16_t>(c * 257); };
    return static_cast<uint32_t>(pack_rgba16(layout, widen(r), widen(g), widen(b), widen(a)));
}

uint16_t float_to_half(uint16_t v) {
    if (v <= 3)
        return 0;
    unsigned p = 15;
    while (!(v & (1u << p)))
        --p;
    const unsigned exponent = p - 1;
    const unsigned mantissa = ((static_cast<unsigned>(v) << (16 - p)) & 0xFFFF) >> 6;
    return static_cast<uint16_t>(exponent * 1024 + mantissa);
}

uint64_t pack_rgba_half(const RgbLayout &layout, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    auto half = [](uint8_t c) { return float_to_half(static_cast<uint16_t>(c << 8)); };
    return pack_rgba16(layout, half(r), half(g), half(b), half(a));
}

YuvColor rgb_to_yuv601(uint8_t r, uint8_t g, uint8_t b) {
    const int32_t ri = r, gi = g, bi = b;
    // >> on a negative int is an arithmetic shift in C++20.
    const int32_t y = ((66 * ri + 129 * gi + 25 * bi + 128) >> 8) + 16;
    const int32_t cb = ((-38 * ri - 74 * gi + 112 * bi + 128) >> 8) + 128;
    const int32_t cr = ((112 * ri - 94 * gi - 18 * bi + 128) >> 8) + 128;
    return {static_cast<uint8_t>(y), static_cast<uint8_t>(cb), static_cast<uint8_t>(cr)};
}

} // namespace pattern
