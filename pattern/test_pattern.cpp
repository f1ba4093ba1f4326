// SPDX-License-Identifier: MIT
#include "test_pattern.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "byte_fill.h"
#include "format_layout.h"
#include "gradient.h"
#include "pixel_formats.h"
#include "plain_fill.h"
#include "smpte.h"
#include "tiles.h"

namespace pattern {
namespace {

constexpr std::array<const char *, 4> pattern_names{"tiles", "plain", "smpte", "gradient"};

} // namespace

uint8_t plain_fill_value(const PixelFormatInfo &format) {
    return format_layout(format).half_float ? 0x38 : 0x77;
}

void fill_plain(const PixelFormatInfo &format, uint8_t *mem, uint32_t height, uint32_t stride) {
    // Through the run stores rather than memset: a framebuffer is seldom in
    // cache, and they ask for each line ahead of the stores.
    const uint8_t value = plain_fill_value(format);
    store_repeated(mem, plain_fill_bytes(height, stride), repeat_pixel(&value, 1));
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

} // namespace pattern
