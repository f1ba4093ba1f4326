// SPDX-License-Identifier: MIT
// The expected picture of a CRTC, composed from the generator's renderings
// (expected_picture.h).
#include "expected_picture.h"

#include <algorithm>
#include <initializer_list>

#include "format_layout.h"
#include "picture.h"
#include "render.h"
#include "to_rgb8.h"

namespace {

const pattern::PixelFormatInfo &format_info(uint32_t fourcc) {
    return *pattern::find_pixel_format(fourcc);
}

bool is_opaque_8bit_rgb(const pattern::PixelFormatInfo &format) {
    const pattern::FormatLayout layout = pattern::format_layout(format);
    const pattern::RgbLayout &rgb = format.rgb;
    return !pattern::is_yuv(layout) && layout.family != pattern::PixelFamily::indexed &&
           !layout.half_float && rgb.red.length == 8 && rgb.green.length == 8 &&
           rgb.blue.length == 8 && rgb.alpha.length == 0;
}

// The premultiplied blend of the kernel's default "pixel blend mode".
uint32_t blend(uint32_t below, uint32_t above, uint32_t alpha) {
    uint32_t out = 0;
    for (const int shift : {0, 8, 16}) {
        const uint32_t s = above >> shift & 0xff, d = below >> shift & 0xff;
        out |= std::min<uint32_t>(255, s + d * (255 - alpha) / 255) << shift;
    }
    return out;
}

} // namespace

int format_tolerance(uint32_t format) {
    const pattern::PixelFormatInfo &info = format_info(format);
    const pattern::FormatLayout layout = pattern::format_layout(info);
    if (pattern::is_yuv(layout))
        return 2;
    if (layout.family == pattern::PixelFamily::indexed)
        return 0;
    const pattern::RgbLayout &rgb = info.rgb;
    const bool eight_bits = rgb.red.length == 8 && rgb.green.length == 8 && rgb.blue.length == 8;
    return eight_bits && !layout.half_float ? 0 : 1;
}

ExpectedPicture compose_expected(uint32_t width, uint32_t height, std::span<const Layer> layers) {
    ExpectedPicture picture{width, height, std::vector<uint32_t>(size_t{width} * height, 0), 0};
    for (const Layer &layer : layers) {
        const Drawing &d = layer.drawing;
        TestpatternOptions options;
        options.format = &format_info(d.format);
        options.pattern = d.pattern;
        options.width = d.width;
        options.height = d.height;
        options.stride = uint32_t(pattern::tightest_stride(*options.format, d.width));
        const RenderedPicture rendered = render_test_pattern(options);
        const std::vector<uint8_t> rgb = picture_to_rgb8(rendered);
        const std::vector<uint8_t> alpha = picture_alpha8(rendered);
        picture.tolerance = std::max(picture.tolerance, format_tolerance(d.format));
        const int64_t x0 = std::max<int64_t>(0, layer.x), y0 = std::max<int64_t>(0, layer.y);
        const int64_t x1 = std::min<int64_t>(width, int64_t{layer.x} + d.width);
        const int64_t y1 = std::min<int64_t>(height, int64_t{layer.y} + d.height);
        for (int64_t y = y0; y < y1; ++y)
            for (int64_t x = x0; x < x1; ++x) {
                const size_t from = size_t(y - layer.y) * d.width + size_t(x - layer.x);
                const uint8_t *c = &rgb[from * 3];
                const uint32_t above = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
                uint32_t &px = picture.pixels[size_t(y) * width + size_t(x)];
                if (alpha[from] != 255 && px != 0)
                    picture.tolerance = std::max(picture.tolerance, 1);
                px = blend(px, above, alpha[from]);
            }
    }
    return picture;
}

std::string picture_key(std::span<const Layer> layers) {
    std::string key;
    for (const Layer &layer : layers) {
        const Drawing &d = layer.drawing;
        const pattern::PixelFormatInfo &info = format_info(d.format);
        key += std::string(key.empty() ? "" : " under ") + pattern::pattern_name(d.pattern) +
               " in " + (is_opaque_8bit_rgb(info) ? "8-bit RGB" : format_name(d.format)) + " " +
               std::to_string(d.width) + "x" + std::to_string(d.height) + " at " +
               std::to_string(layer.x) + "," + std::to_string(layer.y);
    }
    return key;
}
