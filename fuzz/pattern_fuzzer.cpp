// SPDX-License-Identifier: MIT
// Draws every pattern into every pixel format at sizes and strides chosen by
// the fuzzer, into planes of exactly their documented size between guard
// bytes. Aborts on any store outside what the drawing may write (guards,
// row padding, undrawn chroma rows, unused planes) and, for every pattern
// but the plain fill, on any byte that differs from the per-pixel
// reference drawing.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "format_layout.h"
#include "guarded_planes.h"
#include "plane_bounds.h"
#include "../rgb/smpte_reference.h"
#include "reference.h"
#include "test_pattern.h"

using namespace pattern;

namespace {

constexpr uint32_t max_side = 300;
constexpr uint32_t max_padding = 64;
// Some inputs ask for a few very wide rows instead: every store path of
// the drawings, whatever its length threshold, is then reached with odd and
// even widths.
constexpr uint32_t max_wide_side = 70000;
constexpr uint32_t max_wide_rows = 3;

[[noreturn]] void fail(const char *what, const PixelFormatInfo &format, TestPattern pattern,
                       uint32_t width, uint32_t height, uint32_t stride, const std::string &where) {
    std::fprintf(stderr, "%s: %s %s %ux%u stride %u: %s\n", what, format.name,
                 pattern_name(pattern), width, height, stride, where.c_str());
    std::abort();
}

bool has_reference(TestPattern pattern) {
    return pattern != TestPattern::plain;
}

void draw_reference(const PixelFormatInfo &format, TestPattern pattern, const PlanePointers &planes,
                    uint32_t width, uint32_t height, uint32_t stride) {
    if (pattern == TestPattern::smpte && !plane_bounds::is_yuv(format))
        smpte_reference::draw(format, planes[0], width, height, stride);
    else
        reference::draw(format, pattern, planes, width, height, stride);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto pattern = static_cast<TestPattern>(input.ConsumeIntegralInRange<uint32_t>(0, 3));
    const PixelFormatInfo &format =
        pixel_format_table[input.ConsumeIntegralInRange<size_t>(0, pixel_format_table.size() - 1)];
    const bool wide = input.ConsumeIntegralInRange<uint8_t>(0, 7) == 0;
    const uint32_t width =
        input.ConsumeIntegralInRange<uint32_t>(0, wide ? max_wide_side : max_side);
    const uint32_t height =
        input.ConsumeIntegralInRange<uint32_t>(0, wide ? max_wide_rows : max_side);
    const uint32_t padding = input.ConsumeIntegralInRange<uint32_t>(0, max_padding);
    const auto seed = input.ConsumeIntegral<uint8_t>();

    const uint32_t tightest = width * format_layout(format).bytes_per_pixel[0];
    const uint32_t stride = tightest + padding;

    const plane_bounds::Planes layout =
        plane_bounds::describe(format, pattern, width, height, stride);
    GuardedPlanes drawn(layout, static_cast<uint8_t>(seed | 1));
    fill_test_pattern(format.fourcc, pattern, drawn.pointers(), width, height, stride);
    if (const auto stray = drawn.stray_write())
        fail("stray write", format, pattern, width, height, stride, *stray);

    if (has_reference(pattern)) {
        GuardedPlanes expected(layout, static_cast<uint8_t>(seed | 1));
        draw_reference(format, pattern, expected.pointers(), width, height, stride);
        for (size_t p = 0; p < 3; ++p) {
            const auto &got = drawn.storage()[p];
            const auto &want = expected.storage()[p];
            const auto [at, _] = std::mismatch(got.begin(), got.end(), want.begin());
            if (at != got.end())
                fail("differs from the reference", format, pattern, width, height, stride,
                     "plane " + std::to_string(p) + " byte " +
                         std::to_string(at - got.begin() - GuardedPlanes::guard));
        }
    }
    return 0;
}
