// SPDX-License-Identifier: MIT
#include "reference.h"

#include "../rgb/smpte_reference.h"
#include "format_layout.h"

#include <array>
#include <cstdlib>

using namespace pattern;

namespace reference {
namespace {

constexpr std::array<YuvColor, 7> top{{{181, 128, 128},
                                       {162, 44, 142},
                                       {132, 157, 44},
                                       {113, 73, 58},
                                       {84, 184, 199},
                                       {66, 100, 212},
                                       {35, 212, 115}}};
constexpr std::array<YuvColor, 7> middle{{{35, 212, 115},
                                          {32, 128, 128},
                                          {84, 184, 199},
                                          {32, 128, 128},
                                          {132, 157, 44},
                                          {32, 128, 128},
                                          {181, 128, 128}}};
constexpr std::array<YuvColor, 8> bottom{{{40, 152, 111},
                                          {235, 128, 128},
                                          {39, 167, 142},
                                          {32, 128, 128},
                                          {24, 128, 128},
                                          {32, 128, 128},
                                          {41, 128, 128},
                                          {32, 128, 128}}};

YuvColor smpte_color(uint32_t x, uint32_t row, uint32_t width, uint32_t rows) {
    if (row < rows * 6 / 9)
        return top[x * 7 / width];
    if (row < rows * 7 / 9)
        return middle[x * 7 / width];
    return bottom[smpte_bottom_entry(x, width)];
}

// Stores into a packed row, dropping what lies past its 2 x width bytes.
void store_in_row(uint8_t *row, uint32_t width, uint64_t at, uint8_t value) {
    if (at < 2 * uint64_t{width})
        row[at] = value;
}

// The colour by the definition: x + y divided by the width as signed 32-bit
// numbers with div.
struct Rgb {
    uint8_t r, g, b;
};

Rgb tile_rgb(uint32_t x, uint32_t y, uint32_t width) {
    const std::div_t d = std::div(static_cast<int>(x + y), static_cast<int>(width));
    const uint32_t c = 0x130502u * (static_cast<uint32_t>(d.quot) >> 6) +
                       0x0A1120u * (static_cast<uint32_t>(d.rem) >> 6);
    return {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
}

void store_le(uint8_t *p, uint64_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

// The bottom band's columns are the same in every family.
uint32_t smpte_bottom_entry(uint32_t x, uint32_t width) {
    return smpte_reference::bottom_entry(x, width);
}

void smpte_yuv(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
               uint32_t height, uint32_t stride) {
    const FormatLayout l = format_layout(format);
    if (!has_chroma_planes(l)) {
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t *row = planes[0] + uint64_t{y} * stride;
            for (uint32_t x = 0; x < width; ++x)
                store_in_row(row, width, 2ull * x + l.luma_byte,
                             smpte_color(x, y, width, height).y);
        }
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t *row = planes[0] + uint64_t{y} * stride;
            for (uint32_t x = 0; x < width; x += 2) {
                const YuvColor c = smpte_color(x, y, width, height);
                store_in_row(row, width, 2ull * x + l.cb.byte, c.cb);
                store_in_row(row, width, 2ull * x + l.cr.byte, c.cr);
            }
        }
        return;
    }
    const auto [luma, cb, cr] = component_bases(l, planes);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            luma[uint64_t{y} * stride + x] = smpte_color(x, y, width, height).y;
    const uint32_t rows = height / l.ysub;
    const uint32_t step = stride * l.chroma_step / l.xsub;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t x = 0; x < width; x += l.xsub) {
            const YuvColor c = smpte_color(x, r, width, rows);
            const uint64_t at = uint64_t{r} * step + x * l.chroma_step / l.xsub;
            cb[at] = c.cb;
            cr[at] = c.cr;
        }
    }
}

void tiles(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
           uint32_t height, uint32_t stride) {
    const FormatLayout l = format_layout(format);
    if (width == 0 || height == 0 || l.family == PixelFamily::indexed)
        return;
    // Only the 32-bit and half-float words have room for the translucent
    // quarter; 16- and 24-bit pixels are always opaque.
    auto alpha = [&](uint32_t x, uint32_t y) -> uint8_t {
        if (l.bytes_per_pixel[0] < 4)
            return 255;
        return (y < height / 2 && x < width / 2) ? 127 : 255;
    };
    const uint32_t bpp = l.bytes_per_pixel[0];
    const auto bases = component_bases(l, planes);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = planes[0] + uint64_t{y} * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb c = tile_rgb(x, y, width);
            const YuvColor yuv = rgb_to_yuv601(c.r, c.g, c.b);
            if (is_yuv(l) && !has_chroma_planes(l)) {
                if (x % 2 != 0)
                    continue;
                store_in_row(row, width, 2ull * x + l.luma_byte, yuv.y);
                store_in_row(row, width, 2ull * x + l.luma_byte + 2, yuv.y);
                store_in_row(row, width, 2ull * x + l.cb.byte, yuv.cb);
                store_in_row(row, width, 2ull * x + l.cr.byte, yuv.cr);
            } else if (is_yuv(l)) {
                const uint32_t step = stride * l.chroma_step / l.xsub;
                const uint64_t at = uint64_t{y / l.ysub} * step + x / l.xsub * l.chroma_step;
                bases.y[uint64_t{y} * stride + x] = yuv.y;
                bases.cb[at] = yuv.cb;
                bases.cr[at] = yuv.cr;
            } else if (l.half_float) {
                store_le(row + 8ull * x, pack_rgba_half(format.rgb, c.r, c.g, c.b, alpha(x, y)), 8);
            } else {
                store_le(row + uint64_t{bpp} * x, pack_rgba(format.rgb, c.r, c.g, c.b, alpha(x, y)),
                         bpp);
            }
        }
    }
}

void gradient(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
              uint32_t stride) {
    const FormatLayout l = format_layout(format);
    if (l.family != PixelFamily::rgb32 && l.family != PixelFamily::rgb_half)
        return;
    const bool half = l.half_float;
    const unsigned bytes = half ? 8 : 4;
    for (uint32_t y = 0; y < height; ++y) {
        const bool upper = y < height / 2;
        for (uint32_t x = 0; x < width / 2; ++x) {
            uint64_t pixel;
            if (half) {
                const uint32_t v = upper ? (x * 64) % 65536 : ((x * 64) % 65536) & 0xFF00;
                const uint16_t h = float_to_half(static_cast<uint16_t>(v));
                pixel = pack_rgba16(format.rgb, h, h, h, 0);
            } else {
                const uint32_t high = upper ? (x * 64) % 65536 : ((x * 64) % 65536) & 0xFF00;
                const auto v = static_cast<uint16_t>(high | ((x / 16) % 64));
                pixel = pack_rgba16(format.rgb, v, v, v, 0);
            }
            uint8_t *row = mem + uint64_t{y} * stride;
            store_le(row + 2ull * x * bytes, pixel, bytes);
            store_le(row + (2ull * x + 1) * bytes, pixel, bytes);
        }
    }
}

void draw(const PixelFormatInfo &format, TestPattern pattern, const PlanePointers &planes,
          uint32_t width, uint32_t height, uint32_t stride) {
    switch (pattern) {
    case TestPattern::tiles:
        tiles(format, planes, width, height, stride);
        return;
    case TestPattern::smpte:
        if (is_yuv(format_layout(format)))
            smpte_yuv(format, planes, width, height, stride);
        return;
    case TestPattern::gradient:
        gradient(format, planes[0], width, height, stride);
        return;
    case TestPattern::plain:
        return;
    }
}

} // namespace reference
