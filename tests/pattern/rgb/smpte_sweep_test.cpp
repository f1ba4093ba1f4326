// SPDX-License-Identifier: MIT
// The run-based SMPTE routines against the per-pixel reference, over every
// RGB/C8 format and many sizes and strides, with guard bytes around the
// picture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_layout.h"
#include "../param_names.h"
#include "rgb_test_support.h"
#include "smpte_reference.h"

using namespace pattern;

namespace {

using rgb_test::GuardedPlane;

// Draws with both and compares every byte of the plane, padding and guard
// included; the stride is the tightest plus `padding`.
void expect_same_as_reference(const PixelFormatInfo &format, uint32_t width, uint32_t height,
                              uint32_t padding) {
    const uint32_t bpp = format_layout(format).bytes_per_pixel[0];
    const uint32_t stride = width * bpp + padding;
    GuardedPlane fast(height, stride);
    GuardedPlane reference(height, stride);
    rgb_test::draw_smpte_direct(format, fast.data(), width, height, stride);
    smpte_reference::draw(format, reference.data(), width, height, stride);
    if (fast.bytes != reference.bytes) {
        size_t i = 0;
        while (fast.bytes[i] == reference.bytes[i])
            ++i;
        FAIL() << format.name << " " << width << " x " << height << " stride " << stride
               << ": first difference at byte " << i << " (row " << i / stride << ", byte "
               << i % stride << "): " << int{fast.bytes[i]} << " instead of "
               << int{reference.bytes[i]};
    }
    ASSERT_TRUE(fast.guard_intact());
}

class SmpteSweep : public testing::TestWithParam<std::string> {};

TEST_P(SmpteSweep, SmallSizesTightAndPadded) {
    const PixelFormatInfo &format = rgb_test::format_named(GetParam().c_str());
    for (uint32_t width = 0; width <= 20; ++width)
        for (uint32_t height = 1; height <= 12; ++height)
            for (uint32_t padding : {0u, 5u}) {
                expect_same_as_reference(format, width, height, padding);
                if (HasFailure())
                    return;
            }
}

TEST_P(SmpteSweep, LargeOddSizes) {
    const PixelFormatInfo &format = rgb_test::format_named(GetParam().c_str());
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {1923, 31},
        {641, 487},
        {4099, 13},
        {35, 1081},
        {7, 1001},
        {1920, 18},
        {97, 97},
        // Rows longer than the piece the routines draw at once.
        {16411, 5},
        {32771, 2},
        {65539, 2},
    };
    for (const auto &[width, height] : sizes) {
        expect_same_as_reference(format, width, height, 0);
        expect_same_as_reference(format, width, height, 61);
        if (HasFailure())
            return;
    }
}

// Rows that overlap (stride below the row's pixel bytes): the later row must
// win where they overlap, as in the one-pixel-at-a-time order.
TEST_P(SmpteSweep, OverlappingRowsFollowTheWritingOrder) {
    const PixelFormatInfo &format = rgb_test::format_named(GetParam().c_str());
    const uint32_t bpp = format_layout(format).bytes_per_pixel[0];
    for (uint32_t width : {7u, 14u, 30u}) {
        for (uint32_t stride : {bpp, width * bpp / 2 + 1, width * bpp - 1}) {
            const uint32_t height = 9;
            // Room for the last row's full width.
            const size_t size = size_t{height - 1} * stride + size_t{width} * bpp;
            std::vector<uint8_t> fast(size + 16, rgb_test::sentinel);
            std::vector<uint8_t> reference = fast;
            rgb_test::draw_smpte_direct(format, fast.data(), width, height, stride);
            smpte_reference::draw(format, reference.data(), width, height, stride);
            ASSERT_EQ(fast, reference) << format.name << " width " << width << " stride " << stride;
        }
    }
}

// Format names, not row pointers: the names of the cases stay the same
// from build to build.
std::vector<std::string> rgb_and_indexed_names() {
    std::vector<std::string> names;
    for (const PixelFormatInfo *format : rgb_test::rgb_and_indexed_formats())
        names.push_back(format->name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(AllRgbAndC8Formats, SmpteSweep, testing::ValuesIn(rgb_and_indexed_names()),
                         param_names::Described{});

TEST(SmpteSweep, CoversFortyOneFormats) {
    EXPECT_EQ(rgb_test::rgb_and_indexed_formats().size(), 41u);
}

} // namespace
