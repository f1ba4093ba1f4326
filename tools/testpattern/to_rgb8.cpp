// SPDX-License-Identifier: MIT
#include "to_rgb8.h"

#include <algorithm>
#include <cmath>

#include "format_layout.h"
#include "smpte.h"

using namespace pattern;

namespace {

uint64_t read_le(const uint8_t *p, uint32_t size) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < size; ++i)
        v |= uint64_t{p[i]} << (8 * i);
    return v;
}

uint8_t clamp_8bit(int32_t v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

Rgb8 rgb_pixel(const RgbLayout &layout, bool half_float, uint64_t value) {
    auto component = [&](const ColorComponent &c) -> uint8_t {
        if (c.length == 0)
            return 0;
        const uint32_t bits =
            static_cast<uint32_t>((value >> c.offset) & ((uint64_t{1} << c.length) - 1));
        if (half_float)
            return half_to_8bit(static_cast<uint16_t>(bits));
        return component_to_8bit(bits, c.length);
    };
    return {component(layout.red), component(layout.green), component(layout.blue)};
}

} // namespace

uint8_t component_to_8bit(uint32_t value, uint32_t length) {
    if (length >= 8)
        return static_cast<uint8_t>(value >> (length - 8));
    // Repeat the bits until 8 are filled: 5-bit 0x18 becomes 0xC6.
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << length) | value;
        filled += static_cast<int>(length);
    }
    return static_cast<uint8_t>(out >> (filled - 8));
}

uint8_t half_to_8bit(uint16_t half) {
    const uint32_t exponent = (half >> 10) & 0x1F;
    const uint32_t mantissa = half & 0x3FF;
    if (half & 0x8000)
        return 0; // negative
    if (exponent == 0x1F)
        return mantissa != 0 ? 0 : 255; // NaN, infinity
    const double magnitude = exponent == 0
                                 ? std::ldexp(mantissa, -24)
                                 : std::ldexp(1024 + mantissa, static_cast<int>(exponent) - 25);
    return static_cast<uint8_t>(std::min(255.0, std::round(magnitude * 256)));
}

Rgb8 yuv601_to_rgb(uint8_t y, uint8_t cb, uint8_t cr) {
    const int32_t c = y - 16, d = cb - 128, e = cr - 128;
    return {clamp_8bit((298 * c + 409 * e + 128) >> 8),
            clamp_8bit((298 * c - 100 * d - 208 * e + 128) >> 8),
            clamp_8bit((298 * c + 516 * d + 128) >> 8)};
}

std::vector<uint8_t> picture_to_rgb8(const RenderedPicture &picture) {
    const PixelFormatInfo &format = *picture.format;
    const FormatLayout layout = format_layout(format);
    const uint32_t bpp = layout.bytes_per_pixel[0];
    const uint32_t width = picture.width, height = picture.height;
    std::vector<uint8_t> rgb(size_t{width} * height * 3);

    std::array<ColorLutEntry, 256> palette{};
    if (layout.family == PixelFamily::indexed)
        build_smpte_c8_palette(palette.size(), palette.data());

    const std::array<const uint8_t *, 3> planes{picture.planes[0].data(), picture.planes[1].data(),
                                                picture.planes[2].data()};
    const ComponentBases<const uint8_t> bases = component_bases(layout, planes);
    const bool packed = is_yuv(layout) && !has_chroma_planes(layout);
    // A packed row's last pixel may lack the chroma byte past 2 x width.
    const uint64_t row_bytes = uint64_t{width} * bpp;

    for (uint32_t y = 0; y < height; ++y) {
        const size_t row_start = size_t{y} * picture.stride;
        const uint8_t *row = bases.y + row_start;
        for (uint32_t x = 0; x < width; ++x) {
            Rgb8 out{};
            if (layout.family == PixelFamily::indexed) {
                const ColorLutEntry &e = palette[row[x]];
                out = {static_cast<uint8_t>(e.red >> 8), static_cast<uint8_t>(e.green >> 8),
                       static_cast<uint8_t>(e.blue >> 8)};
            } else if (packed) {
                const uint64_t pair = uint64_t{x / 2} * layout.chroma_step;
                auto chroma = [&](const uint8_t *base, uint32_t byte) -> uint8_t {
                    return pair + byte < row_bytes ? base[row_start + pair] : 128;
                };
                out = yuv601_to_rgb(row[2 * uint64_t{x} + layout.luma_byte],
                                    chroma(bases.cb, layout.cb.byte),
                                    chroma(bases.cr, layout.cr.byte));
            } else if (is_yuv(layout)) {
                const size_t offset = size_t{y / layout.ysub} * picture.layout.chroma_step +
                                      size_t{x / layout.xsub} * layout.chroma_step;
                out = yuv601_to_rgb(row[x], bases.cb[offset], bases.cr[offset]);
            } else {
                out = rgb_pixel(format.rgb, layout.half_float, read_le(row + size_t{x} * bpp, bpp));
            }
            uint8_t *dst = rgb.data() + (size_t{y} * width + x) * 3;
            dst[0] = out.r;
            dst[1] = out.g;
            dst[2] = out.b;
        }
    }
    return rgb;
}

std::vector<uint8_t> picture_alpha8(const RenderedPicture &picture) {
    const PixelFormatInfo &format = *picture.format;
    const FormatLayout layout = format_layout(format);
    std::vector<uint8_t> alpha(size_t{picture.width} * picture.height, 255);
    const ColorComponent &a = format.rgb.alpha;
    if (a.length == 0 || is_yuv(layout) || layout.family == PixelFamily::indexed)
        return alpha;
    const uint32_t bpp = layout.bytes_per_pixel[0];
    for (uint32_t y = 0; y < picture.height; ++y)
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint64_t value =
                read_le(picture.planes[0].data() + size_t{y} * picture.stride + size_t{x} * bpp, bpp);
            const auto bits = static_cast<uint32_t>((value >> a.offset) & ((uint64_t{1} << a.length) - 1));
            alpha[size_t{y} * picture.width + x] =
                layout.half_float ? half_to_8bit(static_cast<uint16_t>(bits))
                                  : component_to_8bit(bits, a.length);
        }
    return alpha;
}
