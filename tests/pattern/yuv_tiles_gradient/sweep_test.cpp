// SPDX-License-Identifier: MIT
// The optimised drawings against the per-pixel reference, over many sizes,
// strides and every format, with every byte outside what a drawing may
// write checked for stray stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../param_names.h"
#include "format_layout.h"
#include "guarded_planes.h"
#include "plane_bounds.h"
#include "reference.h"
#include "test_pattern.h"
#include "test_support.h"

using namespace pattern;

namespace {

struct Size {
    uint32_t width, height;
};

std::vector<Size> small_and_odd_sizes() {
    std::vector<Size> sizes;
    for (uint32_t w = 0; w <= 20; ++w)
        for (uint32_t h = 1; h <= 12; ++h)
            sizes.push_back({w, h});
    // Wide and odd, several tiles across and a few colour bands down.
    for (Size s : {Size{0, 0}, Size{7, 0}, Size{131, 3}, Size{333, 17}, Size{641, 9}, Size{1283, 5},
                   Size{2049, 4}, Size{2050, 3}})
        sizes.push_back(s);
    return sizes;
}

// More than 63 times as tall as wide: x + y reaches 64 x width, where the
// tile colour's quotient term starts to count.
std::vector<Size> tall_narrow_sizes() {
    return {{1, 70}, {2, 200}, {3, 250}, {4, 300}, {5, 400}, {7, 500}, {9, 1200}};
}

// Tight rows, odd padding, wide padding; rows overlapping only for the
// drawings whose writing order defines the result.
std::vector<uint32_t> strides_for(uint64_t row_bytes, bool with_overlap) {
    const auto tight = static_cast<uint32_t>(row_bytes);
    std::vector<uint32_t> strides{tight, tight + 5, tight + 64};
    if (with_overlap && tight > 2)
        strides.push_back(tight - 1);
    return strides;
}

std::string describe(const PixelFormatInfo &format, TestPattern pattern, Size size,
                     uint32_t stride) {
    return std::string(format.name) + " " + pattern_name(pattern) + " " +
           std::to_string(size.width) + "x" + std::to_string(size.height) + " stride " +
           std::to_string(stride);
}

// Draws with fill_test_pattern and with the reference into equally preset
// buffers; both must agree on every byte and leave the rest alone.
void check_against_reference(const PixelFormatInfo &format, TestPattern pattern, Size size,
                             uint32_t stride, uint8_t seed) {
    SCOPED_TRACE(describe(format, pattern, size, stride));
    const plane_bounds::Planes layout =
        plane_bounds::describe(format, pattern, size.width, size.height, stride);
    GuardedPlanes fast(layout, seed);
    GuardedPlanes expected(layout, seed);
    fill_test_pattern(format.fourcc, pattern, fast.pointers(), size.width, size.height, stride);
    reference::draw(format, pattern, expected.pointers(), size.width, size.height, stride);

    const auto stray = fast.stray_write();
    ASSERT_FALSE(stray.has_value()) << *stray;
    const auto reference_stray = expected.stray_write();
    ASSERT_FALSE(reference_stray.has_value()) << "reference: " << *reference_stray;
    for (size_t p = 0; p < 3; ++p) {
        const std::vector<uint8_t> &got = fast.storage()[p];
        const std::vector<uint8_t> &want = expected.storage()[p];
        const auto [at, _] = std::mismatch(got.begin(), got.end(), want.begin());
        ASSERT_TRUE(at == got.end())
            << "plane " << p << " byte "
            << static_cast<long>(at - got.begin()) - static_cast<long>(GuardedPlanes::guard) << ": "
            << int{*at} << " instead of " << int{want[at - got.begin()]};
    }
}

class SweepTest : public testing::TestWithParam<std::string> {};

TEST_P(SweepTest, MatchesReferenceAtEverySizeAndStride) {
    const PixelFormatInfo &format = format_named(GetParam());
    const uint64_t bpp = format_layout(format).bytes_per_pixel[0];
    for (TestPattern pattern : {TestPattern::tiles, TestPattern::smpte, TestPattern::gradient}) {
        // SMPTE in the RGB and C8 formats is not drawn by these routines.
        if (pattern == TestPattern::smpte && !plane_bounds::is_yuv(format))
            continue;
        uint8_t seed = 1;
        for (Size size : small_and_odd_sizes())
            for (uint32_t stride : strides_for(size.width * bpp, true))
                check_against_reference(format, pattern, size, stride, seed++);
    }
}

TEST_P(SweepTest, TilesMatchReferenceInTallNarrowBuffers) {
    const PixelFormatInfo &format = format_named(GetParam());
    const uint64_t bpp = format_layout(format).bytes_per_pixel[0];
    for (Size size : tall_narrow_sizes())
        for (uint32_t stride : strides_for(size.width * bpp, false))
            check_against_reference(format, TestPattern::tiles, size, stride, 3);
}

// Very wide rows, odd and even: every length threshold of the stores and
// of the tiles' lines lies below them.
TEST_P(SweepTest, MatchesReferenceInVeryWideRows) {
    const PixelFormatInfo &format = format_named(GetParam());
    const uint64_t bpp = format_layout(format).bytes_per_pixel[0];
    for (TestPattern pattern : {TestPattern::tiles, TestPattern::smpte, TestPattern::gradient}) {
        if (pattern == TestPattern::smpte && !plane_bounds::is_yuv(format))
            continue;
        for (Size size : {Size{4100, 3}, Size{4099, 3}, Size{16500, 2}, Size{16501, 2},
                          Size{66000, 1}, Size{65999, 1}})
            check_against_reference(format, pattern, size,
                                    static_cast<uint32_t>(size.width * bpp + 5), 5);
    }
}

class SmpteYuvSweepTest : public testing::TestWithParam<std::string> {};

TEST_P(SmpteYuvSweepTest, MatchesReferenceAtFullHdRowsAndOddHeights) {
    const PixelFormatInfo &format = format_named(GetParam());
    const uint64_t bpp = format_layout(format).bytes_per_pixel[0];
    for (Size size : {Size{1920, 9}, Size{1919, 13}, Size{701, 900}})
        check_against_reference(format, TestPattern::smpte, size,
                                static_cast<uint32_t>(size.width * bpp + 3), 9);
}

// Format names, not row pointers: the names of the cases stay the same
// from build to build.
std::vector<std::string> format_names(bool yuv_only) {
    std::vector<std::string> names;
    for (const PixelFormatInfo &row : pixel_format_table)
        if (!yuv_only || plane_bounds::is_yuv(row))
            names.push_back(row.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, SweepTest, testing::ValuesIn(format_names(false)),
                         param_names::Described{});
INSTANTIATE_TEST_SUITE_P(YuvFormats, SmpteYuvSweepTest, testing::ValuesIn(format_names(true)),
                         param_names::Described{});

} // namespace
