// SPDX-License-Identifier: MIT
// Plain per-pixel SMPTE colour bars, written from the picture's definition
// with no attempt at speed: every pixel picks its band and entry with the
// 32-bit formulas and is stored byte by byte, least significant first.
// The fast routines must match it byte for byte.
#pragma once

#include <array>
#include <cstdint>

#include "format_layout.h"
#include "pixel_formats.h"

namespace smpte_reference {

using namespace pattern;

struct Rgba {
    uint8_t r, g, b, a;
};

// The 22 colours in C8-index order, transcribed independently of the
// library's tables.
inline constexpr std::array<Rgba, 22> colors{{
    {192, 192, 192, 255}, {192, 192, 0, 255},   {0, 192, 192, 255}, {0, 192, 0, 255},
    {192, 0, 192, 255},   {192, 0, 0, 255},     {0, 0, 192, 255},   {0, 0, 192, 127},
    {19, 19, 19, 127},    {192, 0, 192, 127},   {19, 19, 19, 127},  {0, 192, 192, 127},
    {19, 19, 19, 127},    {192, 192, 192, 127}, {0, 33, 76, 255},   {255, 255, 255, 255},
    {50, 0, 106, 255},    {19, 19, 19, 255},    {9, 9, 9, 255},     {19, 19, 19, 255},
    {29, 29, 29, 255},    {19, 19, 19, 255},
}};

inline uint32_t bottom_entry(uint32_t x, uint32_t width) {
    const uint32_t x1 = width * 5 / 7;
    const uint32_t x2 = width * 6 / 7;
    const uint32_t n = width / 7;
    if (x < x1)
        return x * 4 / x1;
    if (x < x2)
        return n == 0 ? 7 : (x - x1) * 3 / n + 4; // widths 4..6 show black, entry 7
    return 7;
}

// C8 index (0..21) of pixel (x, y).
inline uint32_t color_index(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    const uint32_t y1 = height * 6 / 9;
    const uint32_t y2 = height * 7 / 9;
    if (y < y1)
        return x * 7 / width;
    if (y < y2)
        return 7 + x * 7 / width;
    return 14 + bottom_entry(x, width);
}

// Pixel value of colour `index` in `format`, and its size in bytes.
inline uint64_t pixel_value(const PixelFormatInfo &format, uint32_t index) {
    const Rgba c = colors[index];
    const FormatLayout layout = format_layout(format);
    if (layout.family == PixelFamily::indexed)
        return index;
    if (layout.half_float)
        return pack_rgba_half(format.rgb, c.r, c.g, c.b, c.a);
    return pack_rgba(format.rgb, c.r, c.g, c.b, c.a);
}

inline void draw(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                 uint32_t stride) {
    const uint32_t bpp = format_layout(format).bytes_per_pixel[0];
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint64_t v = pixel_value(format, color_index(x, y, width, height));
            uint8_t *p = mem + uint64_t{y} * stride + uint64_t{x} * bpp;
            for (uint32_t i = 0; i < bpp; ++i)
                p[i] = static_cast<uint8_t>(v >> (8 * i));
        }
    }
}

} // namespace smpte_reference
