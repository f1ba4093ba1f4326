#include "to_rgb8.h"

#include <algorithm>
#include <cmath>

#include "smpte.h"

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

Rgb8 rgb_pixel(const RgbLayout &layout, PixelFamily family, uint64_t value) {
    auto component = [&](const ColorComponent &c) -> uint8_t {
        if (c.length == 0)
            return 0;
        const uint32_t bits =
            static_cast<uint32_t>((value >> c.offset) & ((uint64_t{1} << c.length) - 1));
        if (family == PixelFamily::rgb_half)
            return half_to_8bit(static_cast<uint16_t>(bits));
        return component_to_8bit(bits, c.length);
    };
    return {component(layout.red), component(layout.green), component(layout.blue)};
}

// Where the luma and chroma bytes of pixel x lie in a packed YUV row.
struct PackedPositions {
    uint64_t y, cb, cr;
};

PackedPositions packed_positions(uint32_t order, uint32_t x) {
    const uint64_t pair = 4 * uint64_t{x / 2};
    const uint64_t luma = (order & luma_first) ? 0 : 1;
    const uint64_t chroma = (order & chroma_first) ? 0 : 1;
    return {pair + luma + 2 * (x % 2), pair + chroma + ((order & cr_before_cb) ? 2 : 0),
            pair + chroma + ((order & cb_before_cr) ? 2 : 0)};
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
    const PixelFamily family = pixel_family(format);
    const uint32_t bpp = plane0_bytes_per_pixel(family);
    const uint32_t width = picture.width, height = picture.height;
    const uint8_t *plane0 = picture.planes[0].data();
    std::vector<uint8_t> rgb(size_t{width} * height * 3);

    std::array<ColorLutEntry, 256> palette{};
    if (family == PixelFamily::indexed)
        build_smpte_c8_palette(palette.size(), palette.data());

    // Chroma planes: Cb and Cr bases and the step between samples.
    const uint8_t *cb_plane = nullptr, *cr_plane = nullptr;
    if (family == PixelFamily::yuv_semi_planar) {
        const uint8_t *p1 = picture.planes[1].data();
        cb_plane = p1 + ((format.yuv.order & cb_before_cr) ? 0 : 1);
        cr_plane = p1 + ((format.yuv.order & cr_before_cb) ? 0 : 1);
    } else if (family == PixelFamily::yuv_planar) {
        const bool cb_first = format.yuv.order & cb_before_cr;
        cb_plane = picture.planes[cb_first ? 1 : 2].data();
        cr_plane = picture.planes[cb_first ? 2 : 1].data();
    }

    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *row = plane0 + size_t{y} * picture.stride;
        for (uint32_t x = 0; x < width; ++x) {
            Rgb8 out{};
            switch (family) {
            case PixelFamily::indexed: {
                const ColorLutEntry &e = palette[row[x]];
                out = {static_cast<uint8_t>(e.red >> 8), static_cast<uint8_t>(e.green >> 8),
                       static_cast<uint8_t>(e.blue >> 8)};
                break;
            }
            case PixelFamily::yuv_packed: {
                const PackedPositions at = packed_positions(format.yuv.order, x);
                const uint64_t row_bytes = 2 * uint64_t{width};
                auto chroma = [&](uint64_t i) -> uint8_t { return i < row_bytes ? row[i] : 128; };
                out = yuv601_to_rgb(row[at.y], chroma(at.cb), chroma(at.cr));
                break;
            }
            case PixelFamily::yuv_semi_planar:
            case PixelFamily::yuv_planar: {
                const size_t offset = size_t{y / format.yuv.ysub} * picture.layout.chroma_step +
                                      size_t{x / format.yuv.xsub} * format.yuv.chroma_stride;
                out = yuv601_to_rgb(row[x], cb_plane[offset], cr_plane[offset]);
                break;
            }
            default:
                out = rgb_pixel(format.rgb, family, read_le(row + size_t{x} * bpp, bpp));
                break;
            }
            uint8_t *dst = rgb.data() + (size_t{y} * width + x) * 3;
            dst[0] = out.r;
            dst[1] = out.g;
            dst[2] = out.b;
        }
    }
    return rgb;
}
