#include "test_pattern.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "gradient.h"
#include "pixel_formats.h"
#include "plain_fill.h"
#include "smpte.h"
#include "tiles.h"

namespace {

constexpr std::array<const char *, 4> pattern_names{"tiles", "plain", "smpte", "gradient"};

void draw_smpte(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
                uint32_t height, uint32_t stride) {
    uint8_t *p0 = planes[0];
    uint8_t *p1 = planes[1];
    const YuvLayout &yuv = format.yuv;
    switch (pixel_family(format)) {
    case PixelFamily::indexed:
        draw_smpte_c8(p0, width, height, stride);
        break;
    case PixelFamily::yuv_packed:
        draw_smpte_yuv_packed(yuv, p0, width, height, stride);
        break;
    case PixelFamily::yuv_semi_planar:
        draw_smpte_yuv_planar(yuv, p0, p1 + ((yuv.order & cb_before_cr) ? 0 : 1),
                              p1 + ((yuv.order & cr_before_cb) ? 0 : 1), width, height, stride);
        break;
    case PixelFamily::yuv_planar:
        // YU12 holds Cb in plane 1, YV12 holds Cr there.
        if (yuv.order & cb_before_cr)
            draw_smpte_yuv_planar(yuv, p0, p1, planes[2], width, height, stride);
        else
            draw_smpte_yuv_planar(yuv, p0, planes[2], p1, width, height, stride);
        break;
    case PixelFamily::rgb16:
        draw_smpte_rgb16(format.rgb, p0, width, height, stride);
        break;
    case PixelFamily::rgb24:
        draw_smpte_rgb24(format.rgb, p0, width, height, stride);
        break;
    case PixelFamily::rgb32:
        draw_smpte_rgb32(format.rgb, p0, width, height, stride);
        break;
    case PixelFamily::rgb_half:
        draw_smpte_rgb_half(format.rgb, p0, width, height, stride);
        break;
    }
}

} // namespace

uint8_t plain_fill_value(const PixelFormatInfo &format) {
    return pixel_family(format) == PixelFamily::rgb_half ? 0x38 : 0x77;
}

void fill_plain(const PixelFormatInfo &format, uint8_t *mem, uint32_t height, uint32_t stride) {
    const uint64_t bytes = plain_fill_bytes(height, stride);
    if (bytes != 0)
        std::memset(mem, plain_fill_value(format), static_cast<size_t>(bytes));
}

void fill_test_pattern(uint32_t fourcc, TestPattern pattern, const PlanePointers &planes,
                       uint32_t width, uint32_t height, uint32_t stride) {
    const PixelFormatInfo *format = find_pixel_format(fourcc);
    if (format == nullptr)
        return;

    switch (pattern) {
    case TestPattern::smpte:
        draw_smpte(*format, planes, width, height, stride);
        return;
    case TestPattern::tiles:
        draw_tiles(*format, planes, width, height, stride);
        return;
    case TestPattern::plain:
        fill_plain(*format, planes[0], height, stride);
        return;
    case TestPattern::gradient:
        draw_gradient(*format, planes[0], width, height, stride);
        return;
    }
    std::printf("Error: unsupported test pattern %u.\n", static_cast<uint32_t>(pattern));
}

TestPattern pattern_from_name(const char *name) {
    for (size_t i = 0; i < pattern_names.size(); ++i)
        if (std::strcmp(pattern_names[i], name) == 0)
            return static_cast<TestPattern>(i);
    std::printf("Error: unsupported test pattern %s.\n", name);
    return TestPattern::smpte;
}

const char *pattern_name(TestPattern pattern) {
    const auto value = static_cast<uint32_t>(pattern);
    return value < pattern_names.size() ? pattern_names[value] : nullptr;
}
